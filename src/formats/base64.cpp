// Base64 variant: encoder and decoder state machines with whole-group fast
// paths.
#include "base64.h"

#include <array>
#include <cstring>

namespace {

inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

// Groups of three bytes after which the group counter wraps (it marks where
// a line break would go; none is ever written).
inline constexpr int32_t kGroupsPerLine = 18;

// The shared decoding table: each alphabet character's value, every other
// byte 0xFF. Fixed at compile time, so there is nothing to build or lock.
constexpr std::array<uint8_t, 256> make_decoding_table() {
    std::array<uint8_t, 256> t{};
    for (auto &v : t) v = 0xFF;
    for (int i = 0; i < 64; i++) t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return t;
}
constexpr std::array<uint8_t, 256> kDecoding = make_decoding_table();

inline uint8_t value_of(char c) { return kDecoding[static_cast<uint8_t>(c)]; }

// A group of four characters as one little-endian word of its three bytes:
// each table places its character's six bits; a byte outside the alphabet
// sets bit 24 instead.
inline constexpr uint32_t kBadGroup = 0x01000000;
struct group_tables {
    uint32_t d[4][256];
};
constexpr group_tables make_group_tables() {
    group_tables t{};
    for (int c = 0; c < 256; c++) {
        const uint32_t v = kDecoding[c];
        if (v == 0xFF) {
            for (auto &d : t.d) d[c] = kBadGroup;
            continue;
        }
        t.d[0][c] = v << 2;
        t.d[1][c] = v >> 4 | (v & 0x0F) << 12;
        t.d[2][c] = (v >> 2) << 8 | (v & 0x03) << 22;
        t.d[3][c] = v << 16;
    }
    return t;
}
constexpr group_tables kGroups = make_group_tables();

// Two characters for each 12-bit value, so a group of three bytes costs two
// lookups.
constexpr std::array<char, 8192> make_pair_table() {
    std::array<char, 8192> t{};
    for (int i = 0; i < 4096; i++) {
        t[2 * i] = kAlphabet[i >> 6];
        t[2 * i + 1] = kAlphabet[i & 63];
    }
    return t;
}
constexpr std::array<char, 8192> kPairs = make_pair_table();

}  // namespace

/*
** {======================================================
** Encoding (bytes -> text)
** =======================================================
*/

void base64_init_encodestate(base64_encodestate *state) {
    state->step = BASE64_STEP_A;
    state->result = 0;
    state->count = 0;
}

char base64_encode_value(int value) {
    if (value < 0 || value > 63) return '=';
    return kAlphabet[value];
}

int64_t base64_encode_block(const uint8_t *in, int64_t length, char *out,
                            base64_encodestate *state) {
    if (length < 1) return 0;
    const uint8_t *p = in;
    const uint8_t *const end = in + length;
    char *o = out;
    uint8_t result = state->result;
    if (state->step != BASE64_STEP_B && state->step != BASE64_STEP_C) {
        state->step = BASE64_STEP_A;  // also a state that is not an encoder's
        result = 0;
    }
    switch (state->step) {
        for (;;) {
            default:
            case BASE64_STEP_A: {
                // Whole groups while at least three bytes remain.
                const int64_t groups = (end - p) / 3;
                for (int64_t g = 0; g < groups; g++, p += 3, o += 4) {
                    const uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
                    memcpy(o, &kPairs[2 * (v >> 12)], 2);
                    memcpy(o + 2, &kPairs[2 * (v & 0xFFF)], 2);
                }
                state->count = static_cast<int32_t>((state->count + groups % kGroupsPerLine) % kGroupsPerLine);
                if (p == end) {
                    state->step = BASE64_STEP_A;
                    state->result = result;
                    return o - out;
                }
                const uint8_t c = *p++;
                *o++ = kAlphabet[c >> 2];
                result = static_cast<uint8_t>((c & 0x03) << 4);
            }
                [[fallthrough]];
            case BASE64_STEP_B: {
                if (p == end) {
                    state->step = BASE64_STEP_B;
                    state->result = result;
                    return o - out;
                }
                const uint8_t c = *p++;
                *o++ = kAlphabet[result | c >> 4];
                result = static_cast<uint8_t>((c & 0x0F) << 2);
            }
                [[fallthrough]];
            case BASE64_STEP_C: {
                if (p == end) {
                    state->step = BASE64_STEP_C;
                    state->result = result;
                    return o - out;
                }
                const uint8_t c = *p++;
                *o++ = kAlphabet[result | c >> 6];
                *o++ = kAlphabet[c & 0x3F];
                result = 0;
                if (++state->count == kGroupsPerLine) state->count = 0;
            }
        }
    }
    return o - out;  // not reached: every path out of the loop returns
}

int64_t base64_encode_blockend(char *out, base64_encodestate *state) {
    int64_t n = 0;
    switch (state->step) {
        case BASE64_STEP_B:
            out[0] = kAlphabet[state->result];
            out[1] = '=';
            out[2] = '=';
            n = 3;
            break;
        case BASE64_STEP_C:
            out[0] = kAlphabet[state->result];
            out[1] = '=';
            n = 2;
            break;
        default:
            break;
    }
    state->step = BASE64_STEP_A;
    state->result = 0;
    return n;
}

/*
** {======================================================
** Decoding (text -> bytes)
** =======================================================
*/

void base64_init_decodestate(base64_decodestate *state) {
    state->step = BASE64_STEP_A;
    state->plainchar = 0;
}

int base64_decode_value(char c) {
    const uint8_t v = value_of(c);
    return v == 0xFF ? BASE64_INVALID : v;
}

int64_t base64_decode_block(const char *in, int64_t length, uint8_t *out,
                            base64_decodestate *state) {
    if (length < 1) return 0;
    const char *p = in;
    const char *const end = in + length;
    uint8_t *o = out;
    uint8_t partial = state->plainchar;
    uint8_t v;
    if (state->step < BASE64_STEP_A || state->step > BASE64_STEP_D) {
        state->step = BASE64_STEP_A;  // not a decoder's state: a fresh group
        partial = 0;
    }
    switch (state->step) {
        for (;;) {
            case BASE64_STEP_A:
                // Whole groups of four alphabet characters; anything else
                // goes through the character steps below.
                while (end - p >= 4) {
                    const uint32_t g = kGroups.d[0][static_cast<uint8_t>(p[0])] |
                                       kGroups.d[1][static_cast<uint8_t>(p[1])] |
                                       kGroups.d[2][static_cast<uint8_t>(p[2])] |
                                       kGroups.d[3][static_cast<uint8_t>(p[3])];
                    if (g & kBadGroup) break;
                    o[0] = static_cast<uint8_t>(g);
                    o[1] = static_cast<uint8_t>(g >> 8);
                    o[2] = static_cast<uint8_t>(g >> 16);
                    o += 3;
                    p += 4;
                }
                do {
                    if (p == end) {
                        state->step = BASE64_STEP_A;
                        state->plainchar = partial;
                        return o - out;
                    }
                    v = value_of(*p++);
                } while (v == 0xFF);
                partial = static_cast<uint8_t>(v << 2);
                [[fallthrough]];
            case BASE64_STEP_B:
                do {
                    if (p == end) {
                        state->step = BASE64_STEP_B;
                        state->plainchar = partial;
                        return o - out;
                    }
                    v = value_of(*p++);
                } while (v == 0xFF);
                *o++ = static_cast<uint8_t>(partial | v >> 4);
                partial = static_cast<uint8_t>((v & 0x0F) << 4);
                [[fallthrough]];
            case BASE64_STEP_C:
                do {
                    if (p == end) {
                        state->step = BASE64_STEP_C;
                        state->plainchar = partial;
                        return o - out;
                    }
                    v = value_of(*p++);
                } while (v == 0xFF);
                *o++ = static_cast<uint8_t>(partial | v >> 2);
                partial = static_cast<uint8_t>((v & 0x03) << 6);
                [[fallthrough]];
            case BASE64_STEP_D:
                do {
                    if (p == end) {
                        state->step = BASE64_STEP_D;
                        state->plainchar = partial;
                        return o - out;
                    }
                    v = value_of(*p++);
                } while (v == 0xFF);
                *o++ = static_cast<uint8_t>(partial | v);
                partial = 0;
        }
    }
    return o - out;  // not reached: every path out of the loop returns
}

// Binary delta: greedy generation over a sampled hash index, and checked
// application.
#include "delta.h"

#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "crc32.h"
#include "host.h"

namespace {

inline constexpr uint8_t kTag[4] = {'d', 's', 't', 0};
inline constexpr int64_t kContainerHead = 8;  // tag and u32 stream length
inline constexpr int64_t kStreamHead = 12;    // destination length and two CRCs

// A one-byte length field holds 0..254; 255 announces a u32 length.
inline constexpr uint8_t kLongLength = 255;

// Matches shorter than this are written as literal bytes.
inline constexpr int64_t kMinMatch = 8;

// The index lookup needs this many destination bytes ahead.
inline constexpr int64_t kHashReach = 31;

// One LZ4 block never expands its input more than 255 times, so a larger
// declared stream length is a lie and is refused before allocating.
inline constexpr int64_t kMaxLz4Ratio = 255;

// The result buffer starts at most this large and grows as bytes arrive; a
// declared destination length is not trusted for the allocation.
inline constexpr int64_t kResultStart = 65536;

// Match index: source positions by hash, -1 for empty. Process-wide scratch
// of generate_diff (main thread only), emptied at the start of every call.
inline constexpr int kIndexSize = 32768;
int32_t match_index[kIndexSize];

// The index's hash of the bytes at p (read unsigned).
inline uint32_t source_hash(const uint8_t *p) {
    return ((uint32_t{p[3]} * 64 + p[0]) * 627) & 0x7FFF;
}

// The search's hash of the bytes at p: the same formula over the bytes read
// signed, so it agrees with source_hash only while both bytes are below 128.
inline uint32_t search_hash(const uint8_t *p) {
    const int32_t h = (int32_t{static_cast<int8_t>(p[3])} * 64 + static_cast<int8_t>(p[0])) * 627;
    return static_cast<uint32_t>(h) & 0x7FFF;
}

inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void store_le32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void log_failure(const char *format, int marker) {
    char line[96];
    snprintf(line, sizeof line, format, marker);
    codo_debug(line);
}

/*
** Operation stream being written: a plain growing array; every write is
** checked by the buffer.
*/
bool write_length(buffer_rec *s, int64_t n) {
    if (n < kLongLength) return bwrite_uint8(static_cast<uint8_t>(n), s) == 1;
    return bwrite_uint8(kLongLength, s) == 1 && bwrite_uint32(static_cast<uint32_t>(n), s) == 4;
}

// Walks the destination and writes the literal and copy operations.
bool write_operations(buffer_rec *s, const uint8_t *src, int64_t src_len, const uint8_t *dst, int64_t dst_len) {
    const uint8_t *const src_end = src + src_len;
    const uint8_t *const dst_end = dst + dst_len;
    int64_t d = 0;
    while (d < dst_len) {
        const int64_t literal = d;
        int64_t same = 0, hashed = 0;
        int32_t hashed_pos = 0;
        for (; d < dst_len; d++) {
            same = d < src_len ? find_match_len(src + d, dst + d, src_end, dst_end) : 0;
            hashed = get_hashpos_len(src, dst + d, src_end, dst_end, &hashed_pos);
            if (std::max(same, hashed) >= kMinMatch) break;
        }
        if (!write_length(s, d - literal)) return false;
        if (d > literal && bwrite(dst + literal, 1, d - literal, s) != d - literal) return false;
        if (d >= dst_len) break;
        // A tie takes the same place.
        const int64_t len = std::max(same, hashed);
        const int64_t from = hashed > same ? hashed_pos : d;
        if (!write_length(s, len) || bwrite_uint32(static_cast<uint32_t>(from), s) != 4) return false;
        d += len;
    }
    return true;
}

/*
** Operation stream being read: a cursor and the end, every field checked
** before it is read.
*/
struct stream_reader {
    const uint8_t *p;    // next byte
    const uint8_t *end;  // one past the last byte
};

// Reads one length field into *n; false when the field runs past the end.
bool read_length(stream_reader *r, int64_t *n) {
    if (r->p >= r->end) return false;
    const uint8_t b = *r->p++;
    if (b != kLongLength) {
        *n = b;
        return true;
    }
    if (r->end - r->p < 4) return false;
    *n = load_le32(r->p);
    r->p += 4;
    return true;
}

enum class rebuild { ok, damaged, no_memory };

// Appends the stream's operations to 'out', never past 'dst_len' bytes.
rebuild run_operations(stream_reader r, const uint8_t *src, int64_t src_len, int64_t dst_len, buffer_rec *out) {
    while (r.p < r.end) {
        int64_t n = 0;
        if (!read_length(&r, &n) || n > r.end - r.p) return rebuild::damaged;
        if (n > dst_len - out->length) return rebuild::damaged;
        if (n > 0 && bwrite(r.p, 1, n, out) != n) return rebuild::no_memory;
        r.p += n;
        if (r.p >= r.end) break;
        if (!read_length(&r, &n) || r.end - r.p < 4) return rebuild::damaged;
        const int64_t from = load_le32(r.p);
        r.p += 4;
        // A copy beyond the source is skipped; the final check then fails.
        if (from + n > src_len) continue;
        if (n > dst_len - out->length) return rebuild::damaged;
        if (n > 0 && bwrite(src + from, 1, n, out) != n) return rebuild::no_memory;
    }
    return rebuild::ok;
}

}  // namespace

/*
** {======================================================
** Matching
** =======================================================
*/

int64_t find_match_len(const uint8_t *a, const uint8_t *b, const uint8_t *a_end, const uint8_t *b_end) {
    const int64_t limit = std::min<int64_t>(a_end - a, b_end - b);
    if (limit <= 0) return 0;
    int64_t n = 0;
    while (limit - n >= 8) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);  // little-endian: lowest byte first
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

int64_t get_hashpos_len(const uint8_t *src, const uint8_t *d, const uint8_t *src_end, const uint8_t *d_end,
                        int32_t *out_position) {
    if (d_end - d < kHashReach) return 0;
    const int32_t p = match_index[search_hash(d)];
    if (p < 0) return 0;
    *out_position = p;
    return find_match_len(src + p, d, src_end, d_end);
}

/*
** {======================================================
** Generating (source, destination -> delta)
** =======================================================
*/

buffer_rec *generate_diff(const uint8_t *src, int64_t src_len, const uint8_t *dst, int64_t dst_len) {
    src_len = std::max<int64_t>(src_len, 0);
    dst_len = std::max<int64_t>(dst_len, 0);
    if (dst_len > BUFFER_MAX_LENGTH) return nullptr;

    std::fill(std::begin(match_index), std::end(match_index), -1);
    if (src_len >= 32) {
        const int64_t stride = std::max<int64_t>(dst_len >> 13, 4);
        for (int64_t p = 0; p < src_len - 31; p += stride) {
            int32_t &e = match_index[source_hash(src + p)];
            if (e < 0) e = static_cast<int32_t>(p);
        }
    }

    buffer_rec *stream = create_buffer_2(256, 'i');
    if (!stream) return nullptr;
    buffer_rec *out = nullptr;
    if (bwrite_uint32(static_cast<uint32_t>(dst_len), stream) == 4 &&
        bwrite_uint32(crc32b(src, src_len), stream) == 4 && bwrite_uint32(crc32b(dst, dst_len), stream) == 4 &&
        write_operations(stream, src, src_len, dst, dst_len) && stream->length <= LZ4_MAX_INPUT_SIZE) {
        const int bound = LZ4_compressBound(stream->length);
        out = create_buffer_2(bound + static_cast<int32_t>(kContainerHead), 'i');
        if (out) {
            memcpy(out->data, kTag, 4);
            store_le32(out->data + 4, static_cast<uint32_t>(stream->length));
            const int packed = LZ4_compress_fast(reinterpret_cast<const char *>(stream->data),
                                                 reinterpret_cast<char *>(out->data + kContainerHead),
                                                 stream->length, bound, 1);
            if (packed > 0) {
                out->length = out->cursor = static_cast<int32_t>(kContainerHead + packed);
            } else {
                destroy_buffer(out);
                out = nullptr;
            }
        }
    }
    destroy_buffer(stream);
    return out;
}

/*
** {======================================================
** Applying (source, delta -> destination)
** =======================================================
*/

buffer_rec *apply_diff(const uint8_t *src, int64_t src_len, const uint8_t *delta, int64_t delta_len) {
    src_len = std::max<int64_t>(src_len, 0);
    if (!delta || delta_len < 0) return nullptr;
    const bool tagged = delta_len >= 4 && memcmp(delta, kTag, 4) == 0;
    const int marker = tagged ? 1 : 0;

    // The operation stream: decompressed from a container, or the delta.
    std::unique_ptr<uint8_t[]> unpacked;
    const uint8_t *stream = delta;
    int64_t stream_len = delta_len;
    if (tagged) {
        if (delta_len < kContainerHead) return nullptr;
        const int64_t packed = delta_len - kContainerHead;
        const int64_t declared = load_le32(delta + 4);
        if (declared > kMaxLz4Ratio * packed || declared > LZ4_MAX_INPUT_SIZE || packed > INT32_MAX) return nullptr;
        if (declared < kStreamHead) return nullptr;
        unpacked.reset(new (std::nothrow) uint8_t[static_cast<size_t>(declared)]);
        if (!unpacked) return nullptr;
        const int n = LZ4_decompress_safe(reinterpret_cast<const char *>(delta + kContainerHead),
                                          reinterpret_cast<char *>(unpacked.get()), static_cast<int>(packed),
                                          static_cast<int>(declared));
        if (n < 0) return nullptr;
        stream = unpacked.get();
        stream_len = n;
    }
    if (stream_len < kStreamHead) return nullptr;

    if (crc32b(src, src_len) != load_le32(stream + 4)) {
        log_failure(DELTA_FAILED_SRC_MESSAGE, marker);
        return nullptr;
    }
    const int64_t dst_len = load_le32(stream);
    const uint32_t dst_crc = load_le32(stream + 8);

    buffer_rec *out = create_buffer_2(static_cast<int32_t>(std::min(dst_len, kResultStart)), 'i');
    if (!out) return nullptr;
    const rebuild r = run_operations({stream + kStreamHead, stream + stream_len}, src, src_len, dst_len, out);
    if (r == rebuild::ok && out->length == dst_len && crc32b(out->data, out->length) == dst_crc) return out;
    destroy_buffer(out);
    if (r != rebuild::no_memory) log_failure(DELTA_FAILED_DST_MESSAGE, marker);
    return nullptr;
}

/*
** Text cartridge format: writer and the version 1 and 2 readers.
*/
#include "cart_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base64.h"
#include "buffer.h"
#include "cart_common.h"

namespace {

/* ---- names and text (entries -> cartridge) ---- */

// The extension of 'name' as the path rules compute it: the text after the
// last '.' of the last segment, or after the one before it when the segment
// holds two; lower-cased A-Z only.
std::string extension(std::string_view name) {
    const size_t dot = name.find_last_of("./");
    if (dot == std::string_view::npos || name[dot] == '/') return "";
    size_t start = dot + 1;
    if (dot > 0) {
        const size_t second = name.find_last_of("./", dot - 1);
        if (second != std::string_view::npos && name[second] == '.') start = second + 1;
    }
    std::string ext(name.substr(start));
    for (char &c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

bool begins_entry_or_encoding(std::string_view line) {
    return line.substr(0, 3) == ":: " || line.substr(0, 4) == "hex$" || line.substr(0, 4) == "b64$";
}

// True when every byte of 'data' is 1-127 and none is '\r'; eight bytes at
// a time.
bool plain_bytes(std::string_view data) {
    constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u, crs = ones * '\r';
    const auto has_zero = [](uint64_t w) { return ((w - ones) & ~w & highs) != 0; };
    size_t i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        uint64_t w;
        memcpy(&w, data.data() + i, 8);
        if ((w & highs) || has_zero(w) || has_zero(w ^ crs)) return false;
    }
    for (; i < data.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c < 1 || c > 127 || c == '\r') return false;
    }
    return true;
}

// True when 'name' survives an entry line: a legal name of bytes 33-127
// that does not read as the end line.
bool name_writeable(std::string_view name) {
    if (!cart_name_ok(name) || name.substr(0, 5) == "[eoc]") return false;
    for (unsigned char c : name) {
        if (c < 33 || c > 127) return false;
    }
    return true;
}

// Characters of the encoded lines of 'n' bytes, newlines included, the
// prefix not.
size_t encoded_size(size_t n, bool use_hex) {
    const size_t first = use_hex ? KIV_HEX_FIRST_LINE : KIV_B64_FIRST_LINE;
    const size_t later = use_hex ? KIV_HEX_LINE : KIV_B64_LINE;
    const auto chars = [use_hex](size_t k) { return use_hex ? 2 * k : 4 * ((k + 2) / 3); };
    if (n <= first) return chars(n) + 1;
    const size_t rest = n - first, full = rest / later, tail = rest % later;
    return chars(first) + 1 + full * (chars(later) + 1) + (tail ? chars(tail) + 1 : 0);
}

// Encodes 'n' bytes at 'p' to 'out' and returns the characters written.
size_t encode_hex(const uint8_t *p, size_t n, char *out) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; i++) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 15];
    }
    return 2 * n;
}

size_t encode_b64(const uint8_t *p, size_t n, char *out) {
    base64_encodestate st;
    base64_init_encodestate(&st);
    const int64_t k = base64_encode_block(p, static_cast<int64_t>(n), out, &st);
    return static_cast<size_t>(k + base64_encode_blockend(out + k, &st));
}

// A binary body: the prefix, then chunks of the first and later line sizes,
// each encoded on its own and ended by a newline.
void append_binary(std::string &out, std::string_view data, bool use_hex) {
    out += use_hex ? "hex$" : "b64$";
    const size_t start = out.size();
    out.resize(start + encoded_size(data.size(), use_hex));
    char *w = out.data() + start;
    const auto *p = reinterpret_cast<const uint8_t *>(data.data());
    size_t at = 0, chunk = use_hex ? KIV_HEX_FIRST_LINE : KIV_B64_FIRST_LINE;
    do {
        const size_t n = std::min(chunk, data.size() - at);
        w += use_hex ? encode_hex(p + at, n, w) : encode_b64(p + at, n, w);
        *w++ = '\n';
        at += n;
        chunk = use_hex ? KIV_HEX_LINE : KIV_B64_LINE;
    } while (at < data.size());
}

/* ---- lines (cartridge -> entries) ---- */

// Lines of the input: each ends at a LF, which is dropped with a CR just
// before it; the last line may end at the end of the input.
struct line_reader {
    const char *p;    /* next unread byte */
    const char *end;  /* end of the input */

    bool next(std::string_view &line) {
        if (p >= end) return false;
        const char *nl = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        const char *stop = nl ? nl : end;
        size_t n = static_cast<size_t>(stop - p);
        if (nl && n > 0 && p[n - 1] == '\r') n--;
        line = std::string_view(p, n);
        p = nl ? nl + 1 : end;
        return true;
    }
};

void decode_hex_into(std::string &data, std::string_view hex) {
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        data.push_back(static_cast<char>((hex_digit_to_int[static_cast<uint8_t>(hex[i])] << 4) |
                                         hex_digit_to_int[static_cast<uint8_t>(hex[i + 1])]));
    }
}

void decode_b64_into(std::string &data, std::string_view text, base64_decodestate &st) {
    const size_t at = data.size();
    data.resize(at + (3 * text.size() + 3) / 4);
    const int64_t n = base64_decode_block(text.data(), static_cast<int64_t>(text.size()),
                                          reinterpret_cast<uint8_t *>(data.data() + at), &st);
    data.resize(at + static_cast<size_t>(n));
}

// Body states of the version 2 reader.
enum body_state {
    BODY_TEXT,  /* lines appended as they are, each with a newline */
    BODY_HEX,   /* lines of hex digit pairs */
    BODY_B64,   /* lines of base64, one decoder state for the whole body */
};

// The version 2 reader, after the version line.
void read_v2(line_reader &lines, const char *folder, cart_read_result &r) {
    constexpr size_t none = SIZE_MAX;
    size_t current = none;  // index of the file being filled; none skips lines
    body_state state = BODY_TEXT;
    base64_decodestate b64;
    base64_init_decodestate(&b64);

    std::string_view line;
    while (lines.next(line)) {
        if (line.substr(0, 3) == ":: ") {
            if (current != none && state == BODY_TEXT) {
                std::string &data = r.entries[current].data;
                if (!data.empty() && data.back() == '\n') data.pop_back();
            }
            current = none;
            if (line.substr(0, 8) == ":: [eoc]") return;

            size_t n = 3;
            while (n < line.size() && static_cast<signed char>(line[n]) >= 33) n++;
            std::string_view name = line.substr(3, n - 3);
            const bool is_folder = !name.empty() && name.back() == '/';
            if (is_folder) name.remove_suffix(1);
            if (!cart_name_ok(name)) {  // skipped with its body lines
                r.read_whole = false;
                continue;
            }
            r.entries.push_back(cart_entry{std::string(name), "", is_folder});
            if (!is_folder) {
                current = r.entries.size() - 1;
                state = BODY_TEXT;
            }
            continue;
        }
        if (current == none) continue;

        std::string &data = r.entries[current].data;
        if (state == BODY_TEXT && line.substr(0, 4) == "hex$") {
            state = BODY_HEX;
            decode_hex_into(data, line.substr(4));
        } else if (state == BODY_TEXT && line.substr(0, 4) == "b64$") {
            state = BODY_B64;
            base64_init_decodestate(&b64);
            decode_b64_into(data, line.substr(4), b64);
        } else if (state == BODY_TEXT) {
            data += line;
            data.push_back('\n');
        } else if (state == BODY_HEX) {
            decode_hex_into(data, line);
        } else {
            decode_b64_into(data, line, b64);
        }
    }
    cart_log("** warning: no [eoc] found while mounting %s\n", folder);
    r.read_whole = false;
}

// The legacy version 1 reader, after the version line.
void read_v1(line_reader &lines, const char *folder, cart_read_result &r) {
    std::string_view line;
    while (lines.next(line) && line.size() >= 2) {
        if (line.substr(0, 2) == "##") continue;
        const size_t space = line.find(' ');
        const std::string_view name = line.substr(0, space);
        const std::string rest(space == std::string_view::npos ? "" : line.substr(space + 1));
        int number = 0, attribs = 0;
        sscanf(rest.c_str(), "%d:%d", &number, &attribs);
        if (!name_writeable(name)) {
            r.read_whole = false;
            continue;
        }
        if (attribs & 1) {
            r.entries.push_back(cart_entry{std::string(name), "", true});
            continue;
        }
        cart_entry e{std::string(name), "", false};
        const size_t open = line.find('[');
        if (open == std::string_view::npos) {
            cart_log("******** could not read legacy kiv; file contents missing. missing null terminator issue?\n");
            cart_log("attribs: %d new_path: %s/%s c_p1: %s\n\n", attribs, folder, e.name.c_str(), rest.c_str());
            r.read_whole = false;
        } else {
            const size_t start = std::min(open + 3, line.size());
            const size_t close = line.rfind(']');
            const size_t stop = close == std::string_view::npos ? line.size() : close;
            if (stop > start) decode_hex_into(e.data, line.substr(start, stop - start));
        }
        r.entries.push_back(std::move(e));
    }
}

}  // namespace

bool is_writeable_as_ascii(std::string_view name, std::string_view data) {
    const std::string ext = extension(name);
    if (ext != "txt" && ext != "lua") return false;
    if (!plain_bytes(data)) return false;
    for (size_t at = 0;;) {
        if (begins_entry_or_encoding(data.substr(at))) return false;
        const void *nl = memchr(data.data() + at, '\n', data.size() - at);
        if (!nl) return true;
        at = static_cast<size_t>(static_cast<const char *>(nl) - data.data()) + 1;
    }
}

bool encode_kiv_text(const std::vector<cart_entry> &entries, bool use_hex, std::string &out) {
    if (entries.size() > KIV_TEXT_MAX_ENTRIES) return false;
    size_t total = 0;
    for (const cart_entry &e : entries) {
        if (!name_writeable(e.name)) return false;
        total += e.data.size();
        if (total > KIV_TEXT_MAX_DATA) return false;
    }

    std::string &text = out;  // nothing can fail from here on
    text.reserve(text.size() + total + total / 2 + 64 * entries.size() + 128);
    text += KIV_TEXT_BANNER;
    text += "version " + std::to_string(KIV_TEXT_VERSION) + "\n\n";
    for (const cart_entry &e : entries) {
        text += ":: ";
        text += e.name;
        if (e.is_folder) {
            text += "/\n";
            continue;
        }
        text.push_back('\n');
        if (is_writeable_as_ascii(e.name, e.data)) {
            text += e.data;
            text.push_back('\n');
        } else {
            append_binary(text, e.data, use_hex);
        }
    }
    text += ":: [eoc]\n";
    return true;
}

cart_read_result decode_kiv_text(const uint8_t *data, size_t len, const char *folder) {
    cart_read_result r;
    line_reader lines{reinterpret_cast<const char *>(data), reinterpret_cast<const char *>(data) + len};
    std::string_view line;
    lines.next(line);  // the banner
    int version = 0;
    if (lines.next(line)) {
        const std::string version_line(line);
        if (sscanf(version_line.c_str(), "version %d", &version) != 1) version = 0;
    }
    if (version == 2) {
        read_v2(lines, folder, r);
    } else if (version == 1) {
        read_v1(lines, folder, r);
    } else {
        r.read_whole = false;
    }
    return r;
}

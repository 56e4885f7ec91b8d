/*
** Virtual path rules: legal characters, collapsing, normalising and
** extensions.
*/
#include "paths.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "env.h"

namespace {

std::string g_ext_buffer;  /* the text get_ext returns */

buffer_rec *to_buffer(const std::string &s) {
    buffer_rec *b = create_buffer_2(static_cast<int32_t>(s.size()), 'N');
    if (!b) return nullptr;
    bwrite(s.data(), 1, static_cast<int64_t>(s.size()), b);
    return b;
}

/* Where the protocol head of 's' ends (just after "://"), or 0. */
size_t protocol_head_end(std::string_view s) {
    const size_t scan = s.size() < PROTOCOL_SCAN ? s.size() : PROTOCOL_SCAN;
    for (size_t i = 0; i < scan; i++) {
        if (s[i] != ':') continue;
        if (i + 2 < s.size() && s[i + 1] == '/' && s[i + 2] == '/') return i + 3;
        return 0;
    }
    return 0;
}

/* By byte: 1 for the legal path characters, 2 for the control bytes. */
constexpr std::array<uint8_t, 256> kByteClass = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; c++) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' ||
            c == '/' || c == '_')
            t[c] = 1;
        if (c < 0x20 || c == 0x7F) t[c] = 2;
    }
    return t;
}();

inline uint8_t byte_class(char c) { return kByteClass[static_cast<unsigned char>(c)]; }

/* Every byte free of control codes, and legal before the first '#'. */
bool legal_characters(std::string_view s) {
    size_t i = 0;
    for (; i < s.size() && s[i] != '#'; i++)
        if (byte_class(s[i]) != 1) return false;
    for (; i < s.size(); i++)
        if (byte_class(s[i]) == 2) return false;
    return true;
}

/* True when collapsing leaves the absolute 's' as it is: no empty, "." or
   ".." segment, none too long, no '/' at the end. With 'plain' every byte
   must also be a legal path character. One pass. */
bool collapsed_already(std::string_view s, bool plain) {
    if (s.size() < 2 || s[0] != '/' || s.back() == '/') return false;
    size_t start = 1;  // of the segment being read
    for (size_t i = 1; i <= s.size(); i++) {
        if (i < s.size() && s[i] != '/') {
            if (plain && byte_class(s[i]) != 1) return false;
            continue;
        }
        const size_t n = i - start;
        if (n == 0 || n > PATH_SEGMENT_MAX || (s[start] == '.' && (n == 1 || (n == 2 && s[start + 1] == '.'))))
            return false;
        start = i + 1;
    }
    return true;
}

}  // namespace

bool is_path_char(int c) { return c >= 0 && c < 256 && kByteClass[static_cast<size_t>(c)] == 1; }

bool is_path_control_byte(int c) {
    const unsigned u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

std::string pdisk_collapse(std::string_view s, bool allow_protocol, bool debug) {
    std::string out;
    out.reserve(s.size() + 1);
    if (debug) std::printf(":: collapse: [%.*s]\n", static_cast<int>(s.size()), s.data());
    size_t i = 0;
    size_t head = 0;
    if (allow_protocol) {
        head = protocol_head_end(s);
        if (head) {
            out.assign(s.substr(0, head));
            if (debug) std::printf("skipping prot: %.*s\n", static_cast<int>(head - 3), s.data());
            i = head;
        }
    }
    std::vector<size_t> starts;  // where each output segment (with its '/') begins
    while (i < s.size()) {
        const bool had_slash = s[i] == '/';
        while (i < s.size() && s[i] == '/') i++;
        if (i >= s.size()) break;
        size_t end = i;
        while (end < s.size() && s[end] != '/') end++;
        const std::string_view seg = s.substr(i, end - i);
        i = end;
        if (seg == ".") {
            if (debug) std::printf("  skipped .  -> %s\n", out.c_str());
            continue;
        }
        if (seg == "..") {
            // The first segment after a protocol head is never removed.
            if (!starts.empty() && !(head && starts.size() == 1)) {
                out.resize(starts.back());
                starts.pop_back();
            }
            if (debug) std::printf("  folded ..  -> %s\n", out.c_str());
            continue;
        }
        if (seg.size() > PATH_SEGMENT_MAX) continue;
        starts.push_back(out.size());
        if (had_slash && !(head && out.size() == head)) out += '/';
        out.append(seg);
        if (debug) std::printf("  left segment: %.*s  -> %s\n", static_cast<int>(seg.size()), seg.data(), out.c_str());
    }
    if (out.empty()) out = "/";
    if (debug) std::printf("  --> [%s]\n", out.c_str());
    return out;
}

buffer_rec *collapse_path(const char *s, int32_t len, int debug) {
    if (!s || len < 0) len = 0;
    return to_buffer(pdisk_collapse(std::string_view(s ? s : "", static_cast<size_t>(len)), true, debug != 0));
}

bool pdisk_canonical(std::string_view s) { return collapsed_already(s, true); }

bool pdisk_normalise(std::string_view s, std::string *out) {
    if (s.empty() || s[0] == '#' || s[0] == '-') return false;
    if (collapsed_already(s, true)) {  // a canonical path: itself, in one pass
        out->assign(s);
        return true;
    }
    std::string joined;
    if (s[0] == '/') {
        joined.assign(s);
    } else {
        joined = pdisk_current_pwd();
        if (joined.empty() || joined.back() != '/') joined += '/';
        joined.append(s);
        if (joined[0] != '/') return false;  // a working folder that is not absolute
    }
    if (!legal_characters(joined)) return false;
    if (joined.size() >= 2 && joined.back() == '/') joined.pop_back();
    if (joined == "/") {
        *out = "/";
        return true;
    }
    if (collapsed_already(joined, false)) {
        *out = std::move(joined);
        return true;
    }
    *out = pdisk_collapse(joined, false, false);
    // A ".." can fold away the segment holding the '#' that let the
    // characters after it pass; the result must pass the test on its own.
    return legal_characters(*out);
}

buffer_rec *normalise_quillmar_path(const char *s) {
    if (!s) return nullptr;
    return normalise_quillmar_path_n(s, std::strlen(s));
}

buffer_rec *normalise_quillmar_path_n(const char *s, size_t len) {
    if (!s) return nullptr;
    std::string out;
    if (!pdisk_normalise(std::string_view(s, len), &out)) return nullptr;
    return to_buffer(out);
}

std::string pdisk_ext(std::string_view name) {
    size_t i = name.size();
    while (i > 0 && name[i - 1] != '.' && name[i - 1] != '/') i--;
    if (i == 0 || name[i - 1] == '/') return std::string();
    size_t start = i;  // just after the last '.'
    size_t j = i - 1;
    while (j > 0 && name[j - 1] != '.' && name[j - 1] != '/') j--;
    if (j > 0 && name[j - 1] == '.') start = j;
    std::string ext(name.substr(start));
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

const char *get_ext(const char *name) {
    g_ext_buffer = pdisk_ext(name ? name : "");
    return g_ext_buffer.c_str();
}

int pdisk_cart_kind(std::string_view name) {
    const std::string ext = pdisk_ext(name);
    if (ext == "kiv") return 1;
    if (ext == "kiv.rom") return 2;
    if (ext == "kiv.png") return 3;
    return 0;
}

int kiv_path_kind(const char *name) {
    g_ext_buffer = pdisk_ext(name ? name : "");
    return pdisk_cart_kind(name ? name : "");
}

bool pdisk_path_within(std::string_view path, std::string_view folder) {
    if (folder == "/") return !path.empty() && path[0] == '/';
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

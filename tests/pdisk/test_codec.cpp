// The stand-in cartridge codec.
#include "test_codec.h"

#include <cstdlib>

namespace test_codec {

bool refuse = false;
int encodes = 0;

std::string encode(const std::vector<cart_entry> &entries) {
    std::string out = "TC1\n";
    for (const cart_entry &e : entries) {
        out += e.is_folder ? 'D' : 'F';
        out += e.name;
        out += '\n';
        out += std::to_string(e.data.size());
        out += '\n';
        out += e.data;
    }
    return out;
}

std::string entries_of(const std::optional<std::string> &bytes) {
    if (!bytes) return "<missing>";
    const cart_read_result r =
        pdisk_cart_codec(1).decode(reinterpret_cast<const uint8_t *>(bytes->data()), bytes->size(), "");
    std::string out;
    for (const cart_entry &e : r.entries)
        out += (out.empty() ? "" : " ") + e.name + (e.is_folder ? "/" : "=" + e.data);
    return r.read_whole ? out : out + " <not whole>";
}

namespace {

cart_read_result decode(const uint8_t *bytes, size_t len, const char *) {
    cart_read_result r;
    const std::string in(reinterpret_cast<const char *>(bytes), len);
    if (in.compare(0, 4, "TC1\n") != 0) {
        r.read_whole = false;
        return r;
    }
    size_t i = 4;
    while (i < in.size()) {
        const size_t nl = in.find('\n', i);
        const size_t nl2 = nl == std::string::npos ? nl : in.find('\n', nl + 1);
        if (nl2 == std::string::npos || (in[i] != 'D' && in[i] != 'F')) {
            r.read_whole = false;
            return r;
        }
        cart_entry e;
        e.is_folder = in[i] == 'D';
        e.name = in.substr(i + 1, nl - i - 1);
        const size_t size = std::strtoull(in.c_str() + nl + 1, nullptr, 10);
        if (size > in.size() - nl2 - 1) {
            r.read_whole = false;
            return r;
        }
        e.data = in.substr(nl2 + 1, size);
        i = nl2 + 1 + size;
        r.entries.push_back(std::move(e));
    }
    return r;
}

cart_encode_status encode_fn(const std::vector<cart_entry> &entries, std::string &out) {
    encodes++;
    if (refuse) return cart_encode_status::refused;
    out += encode(entries);
    return cart_encode_status::written;
}

}  // namespace

void install() {
    refuse = false;
    encodes = 0;
    pdisk_set_cart_codec(1, cart_codec{decode, encode_fn});
    pdisk_set_cart_codec(2, cart_codec{decode, encode_fn});
    pdisk_set_cart_codec(3, cart_codec{nullptr, nullptr});
}

}  // namespace test_codec

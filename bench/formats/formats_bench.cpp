// Byte-format benchmarks, each against a reference library in the same run:
//   base64 encode/decode vs OpenSSL EVP_EncodeBlock/EVP_DecodeBlock (16 MB),
//   crc32b vs zlib crc32 (16 MB, results checked equal),
//   generate_diff vs LZ4_compress_fast of the destination (1 MB and 16 MB of
//   Lua-like text: 1% scattered edits, a 4 KB insertion, unrelated data),
//   with apply_diff throughput.
// One line per result: "formats <name> ratio: R goal: G (ok|MISSED)", where
// R is our throughput over the reference's (base64, crc) or our time over
// the reference's (delta).
#include <lz4.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base64.h"
#include "crc32.h"
#include "delta.h"

extern "C" void codo_debug(const char *text) { std::fputs(text, stderr); }

namespace {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kBig = 16u << 20;  // bytes for base64 and CRC
inline constexpr int kRuns = 5;            // timed runs; the median counts

// Median seconds of kRuns calls of f.
double median_seconds(const std::function<void()> &f) {
    std::vector<double> t;
    for (int i = 0; i < kRuns; i++) {
        const auto a = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[kRuns / 2];
}

bool all_ok = true;

// Prints one result; 'higher_is_better' says which side of the goal passes.
void report(const std::string &name, double ratio, double goal, bool higher_is_better, const std::string &extra = "") {
    const bool ok = higher_is_better ? ratio >= goal : ratio <= goal;
    all_ok = all_ok && ok;
    std::printf("formats %s ratio: %.3f goal: %s%.2f (%s)%s\n", name.c_str(), ratio, higher_is_better ? ">=" : "<=",
                goal, ok ? "ok" : "MISSED", extra.c_str());
}

double mb_per_s(size_t bytes, double s) { return static_cast<double>(bytes) / s / 1e6; }

void bench_base64() {
    std::mt19937 rng(1);
    Bytes in(kBig);
    for (auto &b : in) b = static_cast<uint8_t>(rng());
    std::string ours(4 * (kBig / 3 + 2), '\0'), theirs(ours.size() + 1, '\0');

    int64_t n = 0;
    const double enc = median_seconds([&] {
        base64_encodestate st;
        base64_init_encodestate(&st);
        n = base64_encode_block(in.data(), static_cast<int64_t>(in.size()), ours.data(), &st);
        n += base64_encode_blockend(ours.data() + n, &st);
    });
    int m = 0;
    const double enc_ref = median_seconds([&] {
        m = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(theirs.data()), in.data(), static_cast<int>(in.size()));
    });
    if (n != m) std::printf("formats base64 lengths differ: %lld vs %d\n", static_cast<long long>(n), m);
    report("base64_encode", enc_ref / enc, 1.0, true,
           " MB/s: " + std::to_string(mb_per_s(kBig, enc)) + " openssl: " + std::to_string(mb_per_s(kBig, enc_ref)));

    // The reference decodes the standard alphabet.
    std::string standard = theirs.substr(0, static_cast<size_t>(m));
    Bytes out(kBig + 8), out_ref(kBig + 8);
    int64_t d = 0;
    const double dec = median_seconds([&] {
        base64_decodestate st;
        base64_init_decodestate(&st);
        d = base64_decode_block(ours.data(), n, out.data(), &st);
    });
    const double dec_ref = median_seconds([&] {
        EVP_DecodeBlock(out_ref.data(), reinterpret_cast<const unsigned char *>(standard.data()), m);
    });
    if (d != static_cast<int64_t>(kBig) || memcmp(out.data(), in.data(), kBig) != 0)
        std::printf("formats base64 decode did not round-trip\n");
    report("base64_decode", dec_ref / dec, 1.0, true,
           " MB/s: " + std::to_string(mb_per_s(kBig, dec)) + " openssl: " + std::to_string(mb_per_s(kBig, dec_ref)));
}

void bench_crc() {
    std::mt19937 rng(2);
    Bytes in(kBig);
    for (auto &b : in) b = static_cast<uint8_t>(rng());
    uint32_t ours = 0;
    unsigned long theirs = 0;
    const double t = median_seconds([&] { ours = crc32b(in.data(), static_cast<int64_t>(in.size())); });
    const double t_ref = median_seconds([&] { theirs = crc32(0, in.data(), static_cast<uInt>(in.size())); });
    if (ours != theirs) std::printf("formats crc32b differs from zlib: %08x vs %08lx\n", ours, theirs);
    report("crc32b", t_ref / t, 0.9, true,
           " MB/s: " + std::to_string(mb_per_s(kBig, t)) + " zlib: " + std::to_string(mb_per_s(kBig, t_ref)));
}

// Lines of Lua-like source from a seeded vocabulary.
Bytes lua_like_text(uint32_t seed, size_t n) {
    std::mt19937 rng(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 500; i++) {
        std::string w;
        for (size_t k = 0, len = 3 + rng() % 9; k < len; k++) w += static_cast<char>('a' + rng() % 26);
        words.push_back(w);
    }
    Bytes out;
    char line[256];
    while (out.size() < n) {
        auto w = [&] { return words[rng() % words.size()].c_str(); };
        const int num = static_cast<int>(rng() % 10000);
        switch (rng() % 5) {
            case 0: std::snprintf(line, sizeof line, "local %s = %s(%d, \"%s\")\n", w(), w(), num, w()); break;
            case 1: std::snprintf(line, sizeof line, "if %s.%s > %d then %s() end\n", w(), w(), num, w()); break;
            case 2: std::snprintf(line, sizeof line, "  %s[%d] = %s + %s\n", w(), num, w(), w()); break;
            case 3: std::snprintf(line, sizeof line, "function %s(%s)\n  return %d\nend\n", w(), w(), num); break;
            default: std::snprintf(line, sizeof line, "-- %s %s %s\n", w(), w(), w()); break;
        }
        out.insert(out.end(), line, line + std::strlen(line));
    }
    out.resize(n);
    return out;
}

void bench_delta_shape(const char *shape, const Bytes &src, const Bytes &dst, double goal) {
    buffer_rec *delta = nullptr;
    const double gen = median_seconds([&] {
        destroy_buffer(delta);
        delta = generate_diff(src.data(), static_cast<int64_t>(src.size()), dst.data(), static_cast<int64_t>(dst.size()));
    });
    std::vector<char> packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(dst.size()))));
    int packed_len = 0;
    const double lz4 = median_seconds([&] {
        packed_len = LZ4_compress_fast(reinterpret_cast<const char *>(dst.data()), packed.data(),
                                       static_cast<int>(dst.size()), static_cast<int>(packed.size()), 1);
    });
    buffer_rec *back = nullptr;
    const double app = median_seconds([&] {
        destroy_buffer(back);
        back = apply_diff(src.data(), static_cast<int64_t>(src.size()), delta->data, delta->length);
    });
    if (!back || static_cast<size_t>(back->length) != dst.size() || memcmp(back->data, dst.data(), dst.size()) != 0)
        std::printf("formats delta %s did not rebuild\n", shape);
    char extra[160];
    std::snprintf(extra, sizeof extra, " delta bytes: %d lz4 bytes: %d apply MB/s: %.0f", delta->length, packed_len,
                  mb_per_s(dst.size(), app));
    report(std::string("delta_") + shape, gen / lz4, goal, false, extra);
    destroy_buffer(delta);
    destroy_buffer(back);
}

void bench_delta() {
    for (size_t size : {size_t{1} << 20, size_t{16} << 20}) {
        const std::string mb = std::to_string(size >> 20) + "mb";
        const Bytes src = lua_like_text(3, size);
        std::mt19937 rng(4);
        Bytes scattered = src;
        for (size_t k = 0; k < size / 100; k++) scattered[rng() % size] = static_cast<uint8_t>(' ' + rng() % 95);
        Bytes inserted = src;
        const Bytes insert = lua_like_text(5, 4096);
        inserted.insert(inserted.begin() + 1000, insert.begin(), insert.end());
        const Bytes unrelated = lua_like_text(6, size);
        bench_delta_shape((mb + "_scattered").c_str(), src, scattered, 0.75);
        bench_delta_shape((mb + "_inserted").c_str(), src, inserted, 0.75);
        bench_delta_shape((mb + "_unrelated").c_str(), src, unrelated, 6.0);
    }
}

}  // namespace

int main() {
    bench_base64();
    bench_crc();
    bench_delta();
    std::printf("formats all goals: %s\n", all_ok ? "ok" : "MISSED");
    return 0;
}

// Runs a byte-coded sequence of address-space operations on a bare process
// record and on AddressSpaceModel side by side; shared by the model test and
// the fuzz target. Each operation is an op byte followed by its operands;
// a sequence cut short ends the run.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "address_space.h"
#include "address_space_model.h"

namespace address_space_ops {

// Operand reader over [p, end).
class Reader {
  public:
    Reader(const uint8_t *p, size_t n) : p_(p), end_(p + n) {}
    bool more() const { return p_ < end_; }
    bool take(void *out, size_t n) {
        if (size_t(end_ - p_) < n) return false;
        std::memcpy(out, p_, n);
        p_ += n;
        return true;
    }
    bool u8(uint8_t &v) { return take(&v, 1); }
    bool u16(uint16_t &v) { return take(&v, 2); }
    bool u32(uint32_t &v) { return take(&v, 4); }
    bool u64(uint64_t &v) { return take(&v, 8); }

    // An address: near the top of the space, anywhere, above 2^24, negative,
    // or at a page boundary.
    bool address(uint32_t &a) {
        uint8_t kind;
        uint32_t raw;
        if (!u8(kind) || !u32(raw)) return false;
        switch (kind % 5) {
            case 0: a = 0xFFFFF8 + (raw & 7); break;
            case 1: a = raw & 0xFFFFFF; break;
            case 2: a = raw | 0x1000000; break;
            case 3: a = raw | 0x80000000u; break;
            default: a = ((raw & 0xFFF000) + 0x1000 - 4 + (raw >> 28)) & 0xFFFFFFFF; break;
        }
        return true;
    }

    // A length: mostly within a few pages, sometimes zero or negative.
    bool length(int32_t &n) {
        uint8_t kind;
        uint16_t raw;
        if (!u8(kind) || !u16(raw)) return false;
        switch (kind % 4) {
            case 0: n = raw % 9000; break;
            case 1: n = raw % 30000; break;
            case 2: n = raw % 64; break;
            default: n = -static_cast<int32_t>(raw % 3); break;
        }
        return true;
    }

  private:
    const uint8_t *p_;
    const uint8_t *end_;
};

// "" when the record and the model agree after every operation.
inline std::string run(const uint8_t *data, size_t size) {
    auto *rec = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
    auto model = std::make_unique<AddressSpaceModel>();
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> arrays;  // impl, model
    arrays.reserve(1024);
    process_rec *saved = cproc;
    cproc = rec;
    std::string err;
    Reader in(data, size);
    int step = 0;
    for (; in.more() && err.empty() && arrays.size() < 1000; step++) {
        uint8_t op;
        if (!in.u8(op)) break;
        uint32_t a, b;
        int32_t n;
        uint8_t w;
        uint64_t v;
        switch (op % 7) {
            case 0: {  // peek of width 1, 2, 4 or 8
                if (!in.u8(w) || !in.address(a)) goto done;
                int width = 1 << (w & 3);
                uint64_t got = 0;
                switch (width) {
                    case 1: got = peek(a); break;
                    case 2: got = static_cast<uint16_t>(peek2(a)); break;
                    case 4: got = static_cast<uint32_t>(peek4(a)); break;
                    default: got = static_cast<uint64_t>(peek8(a)); break;
                }
                if (got != model->read(a, width)) err = "peek value";
                break;
            }
            case 1: {  // poke of width 1, 2, 4 or 8
                if (!in.u8(w) || !in.address(a) || !in.u64(v)) goto done;
                int width = 1 << (w & 3);
                switch (width) {
                    case 1: poke(a, static_cast<int64_t>(v)); break;
                    case 2: poke2(a, static_cast<int64_t>(v)); break;
                    case 4: poke4(a, static_cast<int64_t>(v)); break;
                    default: poke8(a, static_cast<int64_t>(v)); break;
                }
                model->write(a, v, width);
                break;
            }
            case 2:  // bulk copy
                if (!in.address(a) || !in.address(b) || !in.length(n)) goto done;
                if (kiv_memcpy(a, b, n) != model->memcpy(a, b, n)) err = "memcpy cost";
                break;
            case 3:  // bulk fill
                if (!in.address(a) || !in.u8(w) || !in.length(n)) goto done;
                if (kiv_memset(a, w * 0x101, n) != model->memset(a, w * 0x101, n))
                    err = "memset cost";
                break;
            case 4: {  // map a page onto a fresh array of 1000 or 4096 bytes
                uint16_t p;
                if (!in.u16(p) || !in.u8(w)) goto done;
                size_t bytes = (w & 1) ? 4096 : 1000;
                std::vector<uint8_t> impl(bytes);
                for (size_t i = 0; i < bytes; i++) impl[i] = static_cast<uint8_t>(i * 7 + w);
                arrays.emplace_back(impl, impl);
                map_page(rec, p & 0xFFF, arrays.back().first.data(), static_cast<int32_t>(bytes));
                model->map(p & 0xFFF, arrays.back().second.data(), static_cast<int32_t>(bytes));
                break;
            }
            case 5: {  // unmap a page
                uint16_t p;
                if (!in.u16(p)) goto done;
                unmap_page(rec, p & 0xFFF);
                model->unmap(p & 0xFFF);
                break;
            }
            default:  // full comparison
                err = model->compare(rec);
                break;
        }
        if (!err.empty()) err += " at step " + std::to_string(step);
    }
done:
    if (err.empty()) err = model->compare(rec);
    for (size_t i = 0; err.empty() && i < arrays.size(); i++)
        if (arrays[i].first != arrays[i].second) err = "mapped array " + std::to_string(i);
    cproc = saved;
    free_own_pages(rec);
    std::free(rec);
    return err;
}

}  // namespace address_space_ops

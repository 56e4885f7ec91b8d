// A byte-at-a-time reference of a process's paged address space, for the
// model test and the fuzz target: every access goes through the access rule
// one byte at a time, bulk operations compute their costs by the chunk rule
// and move bytes one by one. compare() checks a record against it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "process.h"

class AddressSpaceModel {
  public:
    static constexpr uint32_t MASK = 0xFFFFFF;


    uint64_t read(uint32_t a, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; i++) v |= uint64_t{*at(a + i)} << (8 * i);
        return v;
    }

    void write(uint32_t a, uint64_t v, int n) {
        for (int i = 0; i < n; i++) {
            uint8_t *b = at(a + i);
            flags_[page(a + i)] = 255;
            *b = static_cast<uint8_t>(v >> (8 * i));
        }
    }

    uint32_t memcpy(uint32_t dst, uint32_t src, int32_t len) {
        if (len < 1) return 0;
        uint32_t n = std::min<uint32_t>(len, ADDRESS_SPACE_BYTES);
        uint32_t d = dst & MASK, s = src & MASK;
        if (d == s) return 0;
        if (((d - s) & MASK) < n) {
            for (uint32_t i = n; i-- > 0;) copy_byte(d + i, s + i);
            return n / 8;
        }
        if (((s - d) & MASK) < n) {
            for (uint32_t i = 0; i < n; i++) copy_byte(d + i, s + i);
            return n / 8;
        }
        uint32_t cost = 0;
        while (n > 0) {
            uint32_t chunk = std::min({n, room(s), room(d)});
            std::vector<uint8_t> tmp(chunk);
            for (uint32_t i = 0; i < chunk; i++) tmp[i] = *at(s + i);
            for (uint32_t i = 0; i < chunk; i++) {
                uint8_t *b = at(d + i);
                flags_[page(d + i)] = 255;
                *b = tmp[i];
            }
            cost += chunk / 128 + 1;
            s = (s + chunk) & MASK;
            d = (d + chunk) & MASK;
            n -= chunk;
        }
        return cost;
    }

    uint32_t memset(uint32_t a, int32_t v, int32_t len) {
        if (len < 1) return 0;
        uint32_t n = std::min<uint32_t>(len, ADDRESS_SPACE_BYTES);
        uint32_t cost = 0;
        a &= MASK;
        while (n > 0) {
            uint32_t chunk = std::min(n, room(a));
            for (uint32_t i = 0; i < chunk; i++) {
                uint8_t *b = at(a + i);
                flags_[page(a + i)] = 255;
                *b = static_cast<uint8_t>(v);
            }
            cost += chunk / 128 + 1;
            a = (a + chunk) & MASK;
            n -= chunk;
        }
        return cost;
    }

    // The model's side of map_page: 'data' is the model's copy of the array.
    void map(int32_t p, uint8_t *data, int32_t len) {
        pg_[p] = data;
        len_[p] = std::min(len, PAGE_BYTES);
        flags_[p] = 255;
        mapped_[p] = true;
    }

    void unmap(int32_t p) {
        pg_[p] = own_[p] ? own_[p].get() : nullptr;
        len_[p] = 0;
        flags_[p] = 255;
        mapped_[p] = false;
    }

    uint64_t own_page_bytes() const { return own_bytes_; }

    // "" when rec matches the model: page lengths, flags, own pages and their
    // bytes, mapped bits and the own-page count. Mapped arrays are compared
    // by the caller.
    std::string compare(const process_rec *rec) const {
        if (rec->own_page_bytes != own_bytes_) return "own_page_bytes";
        for (int p = 0; p < NUM_PAGES; p++) {
            std::string where = " of page " + std::to_string(p);
            if (rec->page_len[p] != len_[p]) return "page_len" + where;
            if (rec->page_flags[p] != flags_[p]) return "page_flags" + where;
            if ((rec->page_own[p] != nullptr) != (own_[p] != nullptr))
                return "own page presence" + where;
            bool bit = (rec->mapped_pages[p >> 6] >> (p & 63)) & 1;
            if (bit != mapped_[p]) return "mapped bit" + where;
            if (own_[p] && std::memcmp(rec->page_own[p], own_[p].get(), PAGE_BYTES) != 0)
                return "own page bytes" + where;
        }
        return "";
    }

  private:
    static uint32_t page(uint32_t a) { return (a >> PAGE_SHIFT) & (NUM_PAGES - 1); }

    uint8_t *at(uint32_t a) {
        uint32_t p = page(a);
        int32_t o = static_cast<int32_t>(a & (PAGE_BYTES - 1));
        if (o < len_[p]) return pg_[p] + o;
        if (!own_[p]) {
            own_[p] = std::make_unique<uint8_t[]>(PAGE_BYTES);  // zeroed
            own_bytes_ += PAGE_BYTES;
            if (len_[p] == 0) {
                pg_[p] = own_[p].get();
                len_[p] = PAGE_BYTES;
            }
        }
        return own_[p].get() + o;
    }

    uint32_t room(uint32_t a) const {
        uint32_t p = page(a);
        int32_t o = static_cast<int32_t>(a & (PAGE_BYTES - 1));
        return static_cast<uint32_t>((o < len_[p] ? len_[p] : PAGE_BYTES) - o);
    }

    void copy_byte(uint32_t d, uint32_t s) {
        uint8_t v = *at(s);
        uint8_t *b = at(d);
        flags_[page(d)] = 255;
        *b = v;
    }

    std::array<std::unique_ptr<uint8_t[]>, NUM_PAGES> own_;  // own pages, made on first touch
    std::array<uint8_t *, NUM_PAGES> pg_{};
    std::array<int32_t, NUM_PAGES> len_{};
    std::array<uint8_t, NUM_PAGES> flags_{};
    std::array<bool, NUM_PAGES> mapped_{};
    uint64_t own_bytes_ = 0;
};

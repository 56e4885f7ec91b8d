// Element reads and writes by type, through memcpy (the area is bytes; no
// pointer casts), shared by the typed-array methods.
#pragma once

#include <cstdint>
#include <cstring>

#include "typed_ud.h"

// Element i of an integer-typed area as a signed 64-bit value (u8 zero-extended).
inline int64_t ud_read_int(const uint8_t *area, int code, uint64_t i) {
    switch (code) {
    case UTYPE_U8:
        return area[i];
    case UTYPE_I16: {
        int16_t v;
        std::memcpy(&v, area + 2 * i, 2);
        return v;
    }
    case UTYPE_I32: {
        int32_t v;
        std::memcpy(&v, area + 4 * i, 4);
        return v;
    }
    default: {
        int64_t v;
        std::memcpy(&v, area + 8 * i, 8);
        return v;
    }
    }
}

// Element i of an f64 area.
inline double ud_read_f64(const uint8_t *area, uint64_t i) {
    double v;
    std::memcpy(&v, area + 8 * i, 8);
    return v;
}

// Stores the low 8, 16, 32 or 64 bits of 'v' into element i of an integer area.
inline void ud_write_int(uint8_t *area, int code, uint64_t i, int64_t v) {
    uint64_t u = uint64_t(v);
    switch (code) {
    case UTYPE_U8:
        area[i] = uint8_t(u);
        break;
    case UTYPE_I16: {
        uint16_t w = uint16_t(u);
        std::memcpy(area + 2 * i, &w, 2);
        break;
    }
    case UTYPE_I32: {
        uint32_t w = uint32_t(u);
        std::memcpy(area + 4 * i, &w, 4);
        break;
    }
    default:
        std::memcpy(area + 8 * i, &u, 8);
        break;
    }
}

// Stores 'v' into element i of an f64 area.
inline void ud_write_f64(uint8_t *area, uint64_t i, double v) { std::memcpy(area + 8 * i, &v, 8); }

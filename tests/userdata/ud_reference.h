// A second, deliberately plain implementation of the typed-array operations
// over arrays held in vectors: one element at a time, 64-bit positions, every
// rule spelt out per element type. The differential tests and fuzz_ud_ops
// compare the real methods with it: results, return values and charges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udref {

struct array {
    int code = 3;  // 3 u8, 12 i16, 13 i32, 14 i64, 22 f64
    int dims = 1;
    uint32_t width = 1, height = 1;
    std::vector<uint8_t> data;  // width x height elements

    int64_t count() const { return int64_t(width) * height; }
    int64_t size() const;  // bytes per element
};

// One Lua argument.
struct value {
    enum kind_t { nil, boolean, integer, number, string, arr } kind = nil;
    bool b = false;
    int64_t i = 0;
    double n = 0;
    std::string s;
    int index = -1;  // for arr: the array's place in the state

    static value Nil() { return {}; }
    static value Bool(bool v) { value x; x.kind = boolean; x.b = v; return x; }
    static value Int(int64_t v) { value x; x.kind = integer; x.i = v; return x; }
    static value Num(double v) { value x; x.kind = number; x.n = v; return x; }
    static value Str(std::string v) { value x; x.kind = string; x.s = std::move(v); return x; }
    static value Arr(int idx) { value x; x.kind = arr; x.index = idx; return x; }
};

// What a call gave back. 'raised': the call raised its bound error, changing
// and charging nothing.
struct outcome {
    enum kind_t { none, existing, fresh, number, integer, nothing_but_charge, raised } kind = none;
    int which = -1;    // existing: the array's place
    array made;        // fresh: the new array
    double num = 0;    // number
    int64_t ival = 0;  // integer
    int64_t charge = 0;  // cycles charged (each spend_cpu adds max(n, 1) when n >= 0)
    bool charged = false;  // whether anything was charged at all
};

// Runs USERDATA[name](args...) on the arrays of 'state', changing them as the
// method does. Known names: the element-wise operations, copy, take, clear,
// lerp, magnitude, distance, dot, cross, matmul, matmul3d, matmul2d,
// transpose, row and column.
outcome call(std::vector<array> &state, const std::string &name, const std::vector<value> &args);

// Whether call() knows 'name'.
bool known(const std::string &name);

}  // namespace udref

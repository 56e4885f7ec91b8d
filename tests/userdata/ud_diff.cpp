// Differential runs against the plain reference (see ud_diff.h).
#include "ud_diff.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "typed_ud.h"
#include "vm_hooks.h"

namespace uddiff {

namespace {

const char *const kArrays = "UDDIFF_ARRAYS";

void push_array(lua_State *L, int index) {
    lua_getfield(L, LUA_REGISTRYINDEX, kArrays);
    lua_rawgeti(L, -1, index + 1);
    lua_remove(L, -2);
}

void push_value(lua_State *L, const udref::value &v) {
    switch (v.kind) {
    case udref::value::nil: lua_pushnil(L); break;
    case udref::value::boolean: lua_pushboolean(L, v.b); break;
    case udref::value::integer: lua_pushinteger(L, v.i); break;
    case udref::value::number: lua_pushnumber(L, v.n); break;
    case udref::value::string: lua_pushstring(L, v.s.c_str()); break;
    case udref::value::arr: push_array(L, v.index); break;
    }
}

std::string text_of(const udref::value &v) {
    std::ostringstream s;
    switch (v.kind) {
    case udref::value::nil: s << "nil"; break;
    case udref::value::boolean: s << (v.b ? "true" : "false"); break;
    case udref::value::integer: s << v.i; break;
    case udref::value::number: s.precision(17); s << v.n << "(float)"; break;
    case udref::value::string: s << '"' << v.s << '"'; break;
    case udref::value::arr: s << "A" << v.index; break;
    }
    return s.str();
}

const char *type_name(int code) {
    return code == 3 ? "u8" : code == 12 ? "i16" : code == 13 ? "i32" : code == 14 ? "i64" : "f64";
}

std::string shape_text(const udref::array &a) {
    std::ostringstream s;
    s << type_name(a.code) << " " << a.width << "x" << a.height << " dims " << a.dims;
    return s.str();
}

// First differing element of two equal-sized areas, or "".
std::string area_diff(const uint8_t *got, const std::vector<uint8_t> &want, int64_t size) {
    for (size_t i = 0; i < want.size(); i++) {
        if (got[i] != want[i]) {
            const int64_t k = int64_t(i) / size;
            std::ostringstream s;
            s << "element " << k << " differs: bytes";
            for (int64_t j = size - 1; j >= 0; j--) s << ' ' << std::hex << int(got[k * size + j]);
            s << ", reference";
            for (int64_t j = size - 1; j >= 0; j--) s << ' ' << std::hex << int(want[size_t(k * size + j)]);
            return s.str();
        }
    }
    return "";
}

}  // namespace

void runner::load(const std::vector<udref::array> &arrays) {
    state_ = arrays;
    lua_createtable(L_, int(arrays.size()), 0);
    for (size_t i = 0; i < arrays.size(); i++) {
        const udref::array &a = arrays[i];
        typed_ud_rec *rec = create_userdata_shaped(L_, a.code, a.dims, a.width, a.height, 1);
        if (!rec) std::abort();
        std::memcpy(ud_elements(rec), a.data.data(), a.data.size());
        lua_rawseti(L_, -2, int(i) + 1);
    }
    lua_setfield(L_, LUA_REGISTRYINDEX, kArrays);
}

std::string runner::check(const std::string &name, const std::vector<udref::value> &args) {
    const udref::outcome want = udref::call(state_, name, args);
    const int base = lua_gettop(L_);
    lua_getglobal(L_, "USERDATA");
    lua_getfield(L_, -1, name.c_str());
    lua_remove(L_, -2);
    for (const udref::value &v : args) push_value(L_, v);
    cpu_cycles = 0;
    cpu_cycles_max = 0x7fffffff;
    lua_gc(L_, LUA_GCSTOP);  // the collector's steps are no part of the call's charge
    const int status = lua_pcall(L_, int(args.size()), LUA_MULTRET, 0);
    const int64_t charged = cpu_cycles;
    lua_gc(L_, LUA_GCRESTART);
    cpu_cycles = 0;
    std::string err;
    const int nres = lua_gettop(L_) - base;
    if (want.kind == udref::outcome::raised || status != LUA_OK) {
        // Only the bound error, naming the method, with nothing changed or charged.
        const char *m = status != LUA_OK ? lua_tostring(L_, -1) : nullptr;
        const std::string text = m ? m : "?";
        // copy with an i32 index array is take.
        const std::string method = name == "copy" && text.compare(0, 6, "take: ") == 0 ? "take: " : name + ": ";
        if (want.kind != udref::outcome::raised) {
            err = "raised: " + text;
        } else if (status == LUA_OK) {
            err = "did not raise";
        } else if (text.compare(0, method.size(), method) != 0 || text.find("past the bound of") == std::string::npos) {
            err = "raised another error: " + text;
        } else if (charged != want.charge + int64_t(text.size()) / VM_MESSAGE_BYTES_PER_CYCLE) {  // and its message
            err = "charged " + std::to_string(charged) + " before raising";
        }
        for (size_t i = 0; i < state_.size() && err.empty(); i++) {
            push_array(L_, int(i));
            typed_ud_rec *rec = to_typed_ud(L_, -1);
            std::string d = area_diff(ud_elements(rec), state_[i].data, state_[i].size());
            if (!d.empty()) err = "A" + std::to_string(i) + " changed before raising: " + d;
            lua_pop(L_, 1);
        }
    } else {
        const bool gives = want.kind != udref::outcome::none && want.kind != udref::outcome::nothing_but_charge;
        if (nres != (gives ? 1 : 0)) {
            err = "gave " + std::to_string(nres) + " results, reference " + std::to_string(gives ? 1 : 0);
        } else if (want.kind == udref::outcome::existing) {
            push_array(L_, want.which);
            if (!lua_rawequal(L_, -1, base + 1)) err = "returned another value than A" + std::to_string(want.which);
            lua_pop(L_, 1);
        } else if (want.kind == udref::outcome::fresh) {
            typed_ud_rec *rec = to_typed_ud(L_, base + 1);
            bool old = false;
            for (size_t i = 0; i < state_.size() && rec; i++) {
                push_array(L_, int(i));
                old |= lua_rawequal(L_, -1, base + 1) != 0;
                lua_pop(L_, 1);
            }
            const udref::array &m = want.made;
            if (!rec || old) {
                err = "did not return a new array";
            } else if (ud_type(rec) != m.code || rec->width != m.width || rec->height != m.height ||
                       rec->dims != m.dims) {
                err = "new array " + std::string(type_name(ud_type(rec))) + " " + std::to_string(rec->width) + "x" +
                      std::to_string(rec->height) + " dims " + std::to_string(rec->dims) + ", reference " +
                      shape_text(m);
            } else {
                std::string d = area_diff(ud_elements(rec), m.data, m.size());
                if (!d.empty()) err = "new array: " + d;
            }
        } else if (want.kind == udref::outcome::number) {
            double got = lua_tonumber(L_, base + 1);
            if (!lua_isnumber(L_, base + 1) || std::memcmp(&got, &want.num, 8) != 0) {
                std::ostringstream s;
                s.precision(17);
                s << "number " << got << ", reference " << want.num;
                err = s.str();
            }
        }
        if (err.empty() && charged != want.charge)
            err = "charged " + std::to_string(charged) + ", reference " + std::to_string(want.charge);
        for (size_t i = 0; i < state_.size() && err.empty(); i++) {
            push_array(L_, int(i));
            typed_ud_rec *rec = to_typed_ud(L_, -1);
            std::string d = area_diff(ud_elements(rec), state_[i].data, state_[i].size());
            if (!d.empty()) err = "A" + std::to_string(i) + ": " + d;
            lua_pop(L_, 1);
        }
    }
    lua_settop(L_, base);
    if (!err.empty()) {
        err = describe(name, args) + ": " + err;
        for (size_t i = 0; i < state_.size(); i++) err += "\n  A" + std::to_string(i) + " " + shape_text(state_[i]);
    }
    return err;
}

std::string describe(const std::string &name, const std::vector<udref::value> &args) {
    std::string s = name + "(";
    for (size_t i = 0; i < args.size(); i++) s += (i ? ", " : "") + text_of(args[i]);
    return s + ")";
}

/* ---- random arrays and calls ---- */

namespace {

const int kCodes[] = {3, 12, 13, 14, 22};

int64_t int_edge(chooser &c, int code) {
    const int64_t lo = code == 3 ? 0 : code == 12 ? -32768 : code == 13 ? INT32_MIN : INT64_MIN;
    const int64_t hi = code == 3 ? 255 : code == 12 ? 32767 : code == 13 ? INT32_MAX : INT64_MAX;
    switch (c.below(12)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return -1;
    case 3: return 2;
    case 4: return lo;
    case 5: return hi;
    case 6: return lo + 1;
    case 7: return int64_t(c.below(17)) - 8;
    case 8: return 2022486633361735935LL;
    default: return int64_t(uint64_t(c.next()) << 32 | c.next());
    }
}

double f64_edge(chooser &c) {
    const double inf = std::numeric_limits<double>::infinity();
    switch (c.below(16)) {
    case 0: return 0.0;
    case 1: return -0.0;
    case 2: return 1;
    case 3: return -1;
    case 4: return 2;
    case 5: return 0.5;
    case 6: return -7.5;
    case 7: return std::nan("");
    case 8: return inf;
    case 9: return -inf;
    case 10: return 1e300;
    case 11: return 5e-324;
    case 12: return 1.7976931348623157e+308;
    case 13: return std::ldexp(double(int32_t(c.next())), int(c.below(2080)) - 1105);  // any exponent: far remainders
    default: return (double(int32_t(c.next())) / 65536.0);
    }
}

udref::array make_array(chooser &c, int code, uint32_t w, uint32_t h) {
    udref::array a;
    a.code = code;
    a.width = w;
    a.height = h;
    a.dims = h > 1 || c.below(2) ? 2 : 1;
    a.data.resize(size_t(a.count() * a.size()));
    for (int64_t k = 0; k < a.count(); k++) {
        if (code == 22) {
            double v = f64_edge(c);
            std::memcpy(a.data.data() + k * 8, &v, 8);
        } else {
            uint64_t v = uint64_t(int_edge(c, code));
            std::memcpy(a.data.data() + k * a.size(), &v, size_t(a.size()));
        }
    }
    return a;
}

uint32_t small_side(chooser &c) {
    static const uint32_t sides[] = {1, 2, 3, 4, 5, 7};
    return sides[c.below(6)];
}

const udref::value num_arg(chooser &c) {
    static const double edges[] = {0, 1, 2, -1, 3, 7, 8, 15, 16, 31, 32, 33, 63, 64, 255, 256, 257, 65536, -32768,
                                   2147483648.0, -2147483649.0, 1e300, 0.5, 2.5, -7, 1.7, -5};
    uint32_t k = c.below(std::size(edges) + 2);
    if (k == std::size(edges)) return udref::value::Num(std::nan(""));
    if (k == std::size(edges) + 1) return udref::value::Int(int64_t(int32_t(c.next())));
    double d = edges[k];
    if (d == std::floor(d) && std::fabs(d) < 1e15 && c.below(2)) return udref::value::Int(int64_t(d));
    return udref::value::Num(d);
}

udref::value pos_arg(chooser &c) {
    switch (c.below(12)) {
    case 0: return udref::value::Nil();
    case 1: return udref::value::Int(c.large_work ? 2147483647 : 300);
    case 2: return udref::value::Int(-2147483647 - 1);
    case 3: return udref::value::Int((int64_t(1) << 32) + 5);
    case 4: return udref::value::Num(1.5);
    case 5: case 6: return udref::value::Int(int64_t(c.below(300)));
    default: return udref::value::Int(int64_t(c.below(14)) - 3);
    }
}

// An array like A[a] in shape and type when there is one (half the time), else any.
int partner(chooser &c, const std::vector<udref::array> &st, int a, bool same_shape) {
    std::vector<int> fits;
    for (size_t i = 0; i < st.size(); i++) {
        const udref::array &x = st[i], &y = st[size_t(a)];
        if (x.code == y.code && (!same_shape || (x.width == y.width && x.height == y.height))) fits.push_back(int(i));
    }
    if (!fits.empty() && c.below(4) != 0) return fits[c.below(uint32_t(fits.size()))];
    return int(c.below(uint32_t(st.size())));
}

udref::value out_arg(chooser &c, const std::vector<udref::array> &st, int a) {
    switch (c.below(6)) {
    case 0: return udref::value::Bool(true);
    case 1: return udref::value::Int(0);
    case 2: return udref::value::Bool(false);
    case 3: return udref::value::Arr(partner(c, st, a, true));
    default: return udref::value::Nil();
    }
}

const char *const kFrameOps[] = {"add", "sub", "mul", "div", "idiv", "mod", "pow", "band", "bor", "bxor", "shl",
                                 "shr", "max", "min", "abs", "sgn", "sgn0", "copy", "__add", "__sub", "__shl"};
const char *const kOther[] = {"take", "clear", "lerp", "magnitude", "distance", "dot", "cross", "matmul",
                              "matmul3d", "matmul2d", "transpose", "row", "column"};

}  // namespace

std::vector<udref::array> random_arrays(chooser &c) {
    std::vector<udref::array> st;
    const int main_code = kCodes[c.below(5)];
    const int n = 3 + int(c.below(3));
    for (int i = 0; i < n; i++) {
        int code = c.below(5) == 0 ? kCodes[c.below(5)] : main_code;
        uint32_t w, h;
        if (c.below(2)) {
            w = small_side(c);
            h = small_side(c);
        } else {
            w = 1 + c.below(20);
            h = 1 + c.below(300 / w < 15 ? 300 / w : 15);
        }
        st.push_back(make_array(c, code, w, h));
    }
    // An index array (i32) of indices mostly inside the others, and an f64 transform.
    udref::array idx = make_array(c, 13, 1 + c.below(12), 1 + c.below(3));
    for (int64_t k = 0; k < idx.count(); k++) {
        int32_t v = c.below(8) == 0 ? int32_t(c.next()) : int32_t(c.below(50)) - 3;
        std::memcpy(idx.data.data() + k * 4, &v, 4);
    }
    st.push_back(idx);
    st.push_back(make_array(c, 22, 3 + c.below(2), c.below(2) ? 4 : 3));
    return st;
}

void random_call(chooser &c, const std::vector<udref::array> &st, std::string &name, std::vector<udref::value> &args) {
    args.clear();
    const int nst = int(st.size());
    const int a = int(c.below(uint32_t(nst)));
    if (c.below(3) != 0) {
        name = kFrameOps[c.below(std::size(kFrameOps))];
        if (c.below(12) == 0) {
            args.push_back(num_arg(c));
            args.push_back(udref::value::Arr(a));
        } else {
            args.push_back(udref::value::Arr(a));
            switch (c.below(10)) {
            case 0: args.push_back(udref::value::Nil()); break;
            case 1: args.push_back(udref::value::Str("x")); break;
            case 2: case 3: case 4: args.push_back(num_arg(c)); break;
            case 5: break;
            default: args.push_back(udref::value::Arr(partner(c, st, a, false))); break;
            }
        }
        if (args.size() < 2 && c.below(2)) return;
        while (args.size() < 2) args.push_back(udref::value::Nil());
        args.push_back(out_arg(c, st, a));
        const uint32_t extra = c.below(7);
        for (uint32_t i = 0; i < extra; i++) args.push_back(pos_arg(c));
        return;
    }
    name = kOther[c.below(std::size(kOther))];
    args.push_back(udref::value::Arr(a));
    if (name == "take") {
        args.push_back(udref::value::Arr(c.below(4) ? nst - 2 : int(c.below(uint32_t(nst)))));
        args.push_back(out_arg(c, st, a));
        const uint32_t extra = c.below(7);
        for (uint32_t i = 0; i < extra; i++) args.push_back(c.below(2) ? udref::value::Int(int64_t(c.below(9)) - 2) : pos_arg(c));
    } else if (name == "lerp") {
        const uint32_t extra = c.below(6);
        for (uint32_t i = 0; i < extra; i++)
            args.push_back(c.below(5) ? udref::value::Int(int64_t(c.below(8))) : pos_arg(c));
    } else if (name == "transpose") {
        args.push_back(c.below(3) == 0 ? udref::value::Arr(int(c.below(uint32_t(nst)))) : out_arg(c, st, a));
    } else if (name == "row" || name == "column") {
        if (c.below(6)) args.push_back(udref::value::Int(int64_t(c.below(20)) - 2));
    } else if (name != "clear" && name != "magnitude") {
        // Two f64 operands for the vector and matrix methods, mostly.
        const int b = c.below(3) ? nst - 1 : int(c.below(uint32_t(nst)));
        args.push_back(udref::value::Arr(b));
        if (c.below(2)) {
            const uint32_t k = c.below(5);
            args.push_back(k == 0 ? udref::value::Arr(b) : k == 1 ? udref::value::Arr(int(c.below(uint32_t(nst))))
                                                                  : out_arg(c, st, a));
        }
    }
}

}  // namespace uddiff

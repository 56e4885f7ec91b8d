// The plain reference of the typed-array operations (see ud_reference.h).
#include "ud_reference.h"

#include <cmath>
#include <algorithm>
#include <cstring>

#include "saturate.h"

namespace udref {

int64_t array::size() const { return code == 3 ? 1 : code == 12 ? 2 : code == 13 ? 4 : 8; }

namespace {

constexpr int U8 = 3, I16 = 12, I32 = 13, I64 = 14, F64 = 22;

/* ---- elements ---- */

int64_t geti(const array &a, int64_t k) {
    const uint8_t *p = a.data.data() + k * a.size();
    switch (a.code) {
    case U8: return p[0];
    case I16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case I32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    default: { int64_t v; std::memcpy(&v, p, 8); return v; }
    }
}

double getf(const array &a, int64_t k) {
    double v;
    std::memcpy(&v, a.data.data() + k * 8, 8);
    return v;
}

void seti(array &a, int64_t k, int64_t v) {
    uint64_t u = uint64_t(v);
    std::memcpy(a.data.data() + k * a.size(), &u, size_t(a.size()));  // little-endian low bytes
}

void setf(array &a, int64_t k, double v) { std::memcpy(a.data.data() + k * 8, &v, 8); }

// An integer value as the element type holds it.
int64_t narrow(int code, int64_t v) {
    switch (code) {
    case U8: return int64_t(uint64_t(v) & 0xff);
    case I16: return int16_t(uint16_t(uint64_t(v)));
    case I32: return int32_t(uint32_t(uint64_t(v)));
    default: return v;
    }
}

// Double operations: a NaN result is the left operand's NaN (quieted) if it
// is one, else the right's, else the NaN with only the sign and quiet bits.
double nan_rule(double x, double y, double r) {
    if (!std::isnan(r)) return r;
    uint64_t bits = 0xfff8000000000000ull;
    if (std::isnan(x)) std::memcpy(&bits, &x, 8);
    else if (std::isnan(y)) std::memcpy(&bits, &y, 8);
    bits |= 0x0008000000000000ull;
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}
double fadd(double x, double y) { return nan_rule(x, y, x + y); }
double fsub(double x, double y) { return nan_rule(x, y, x - y); }
double fmul(double x, double y) { return nan_rule(x, y, x * y); }
double fdiv(double x, double y) { return nan_rule(x, y, x / y); }

/* ---- Lua argument readings ---- */

bool present(const std::vector<value> &args, size_t i) { return i < args.size(); }

const value &arg(const std::vector<value> &args, size_t i) {
    static const value nil;
    return i < args.size() ? args[i] : nil;
}

bool truthy(const value &v) { return !(v.kind == value::nil || (v.kind == value::boolean && !v.b)); }

int arr_of(const std::vector<value> &args, size_t i) {
    const value &v = arg(args, i);
    return v.kind == value::arr ? v.index : -1;
}

// kiv_intp: integers as they are, other numbers floored (NaN and out of range
// give INT64_MIN), numeric strings likewise, anything else the default.
int64_t kiv(const std::vector<value> &args, size_t i, int64_t def) {
    const value &v = arg(args, i);
    if (v.kind == value::integer) return v.i;
    if (v.kind == value::number) return floor_double_to_i64_or_min(v.n);
    if (v.kind == value::string) {
        char *end;
        double d = std::strtod(v.s.c_str(), &end);
        if (end != v.s.c_str() && *end == 0) return floor_double_to_i64_or_min(d);
    }
    return def;
}

int64_t kiv32(const std::vector<value> &args, size_t i, int64_t def) {
    return int32_t(uint32_t(uint64_t(kiv(args, i, def))));
}

// The value as a Lua number (0 for anything that is not one).
double tonum(const value &v) {
    if (v.kind == value::integer) return double(v.i);
    if (v.kind == value::number) return v.n;
    if (v.kind == value::string) {
        char *end;
        double d = std::strtod(v.s.c_str(), &end);
        if (end != v.s.c_str() && *end == 0) return d;
    }
    return 0;
}

void spend(outcome &o, int64_t n) {
    if (n < 0) return;
    if (n > INT32_MAX) n = INT32_MAX;
    o.charge += n < 1 ? 1 : n;
    o.charged = true;
}

/* ---- element rules ---- */

enum op { ADD, SUB, MUL, DIV, IDIV, MOD, POW, BAND, BOR, BXOR, SHL, SHR, MAX, MIN, ABS, SGN, SGN0, COPY };

int64_t int_div0(int code, bool negative) {
    int64_t m = code == U8 ? 255 : code == I16 ? 32767 : code == I32 ? 0x7fffffff : 0x7fffffffffffLL;
    return negative ? -m : m;
}

int64_t int_rule(op o, int code, int64_t x, int64_t y) {
    const int width = code == I64 ? 64 : 32;
    switch (o) {
    case ADD: return int64_t(uint64_t(x) + uint64_t(y));
    case SUB: return int64_t(uint64_t(x) - uint64_t(y));
    case MUL: return int64_t(uint64_t(x) * uint64_t(y));
    case DIV:
    case IDIV:
        if (y == 0) return int_div0(code, x < 0);
        if (x == INT64_MIN && y == -1) return INT64_MIN;
        return x / y;
    case MOD: {
        if (y == 0) return 0;
        if (x == INT64_MIN && y == -1) return 0;
        int64_t r = x % y;
        if (r != 0 && ((r < 0) != (y < 0))) r += y;
        return r;
    }
    case POW:
        if (y == 2) {
            if (code == I64) return trunc_double_to_i64_or_min(double(int64_t(uint64_t(x) * uint64_t(x))));
            return int64_t(uint32_t(uint64_t(x) * uint64_t(x)));
        }
        if (code == I64) return trunc_double_to_i64_or_min(std::pow(double(x), double(y)));
        return trunc_double_to_i32_or_min(std::pow(double(x), double(y)));
    case BAND: return x & y;
    case BOR: return x | y;
    case BXOR: return x ^ y;
    case SHL:
        if (y < 0 || y >= width) return 0;
        return int64_t(uint64_t(x) << y);
    case SHR:
        if (code == U8) return y >= 32 ? 0 : x >> y;
        if (y < 0 || y >= width) return x < 0 ? -1 : 0;
        return x >> y;
    case MAX: return x > y ? x : y;
    case MIN: return x < y ? x : y;
    case ABS: return y < 0 ? int64_t(0 - uint64_t(y)) : y;
    case SGN: return code == U8 ? 1 : (y < 0 ? -1 : 1);
    case SGN0: return y > 0 ? 1 : y < 0 ? -1 : 0;
    case COPY: return y;
    }
    return 0;
}

double f64_rule(op o, double x, double y) {
    const double big = 1.7976931348623157e+308;
    switch (o) {
    case ADD: return fadd(x, y);
    case SUB: return fsub(x, y);
    case MUL: return fmul(x, y);
    case DIV: return y == 0 ? (x < 0 ? -big : big) : fdiv(x, y);
    case IDIV: return y == 0 ? (x < 0 ? -big : big) : std::floor(fdiv(x, y));
    case MOD: {
        if (y == 0) return 0.0;
        double r = std::fmod(x, y);
        if ((r > 0 && y < 0) || (r < 0 && y > 0)) r += y;
        return r;
    }
    case POW: return y == 2 ? fmul(x, x) : std::pow(x, y);
    case MAX: return x > y ? x : y;
    case MIN: return x < y ? x : y;
    case ABS: return y < 0 ? -y : y;
    case SGN: return y >= 0 ? 1.0 : -1.0;
    case SGN0: return y > 0 ? 1.0 : y == 0 ? 0.0 : -1.0;
    default: return y;
    }
}

struct op_info {
    const char *name;
    op o;
    int divisor[5];  // u8, i16, i32, i64, f64
};

const op_info ops[] = {
    {"add", ADD, {24, 24, 24, 12, 12}},  {"sub", SUB, {24, 24, 24, 12, 12}},
    {"mul", MUL, {16, 16, 16, 8, 8}},    {"div", DIV, {4, 4, 4, 2, 4}},
    {"idiv", IDIV, {4, 4, 4, 2, 4}},     {"mod", MOD, {4, 4, 4, 2, 4}},
    {"pow", POW, {2, 2, 2, 2, 4}},       {"band", BAND, {24, 24, 24, 12, 0}},
    {"bor", BOR, {24, 24, 24, 12, 0}},   {"bxor", BXOR, {24, 24, 24, 12, 0}},
    {"shl", SHL, {24, 24, 24, 12, 0}},   {"shr", SHR, {24, 24, 24, 12, 0}},
    {"max", MAX, {4, 4, 4, 2, 2}},       {"min", MIN, {4, 4, 4, 2, 2}},
    {"abs", ABS, {4, 4, 4, 2, 2}},       {"sgn", SGN, {4, 4, 4, 2, 2}},
    {"sgn0", SGN0, {4, 4, 4, 2, 2}},     {"copy", COPY, {24, 24, 24, 12, 12}},
};

int slot(int code) { return code == U8 ? 0 : code == I16 ? 1 : code == I32 ? 2 : code == I64 ? 3 : 4; }

const op_info *find_op(const std::string &name) {
    std::string n = name.rfind("__", 0) == 0 ? name.substr(2) : name;
    for (const op_info &i : ops)
        if (n == i.name) return &i;
    return nullptr;
}

// Where results of a call go: an existing array or the fresh one.
array &target(std::vector<array> &state, outcome &o) {
    return o.kind == outcome::fresh ? o.made : state[size_t(o.which)];
}

/* ---- the frame ---- */

outcome take(std::vector<array> &state, const std::vector<value> &args);

outcome frame(std::vector<array> &state, const op_info &info, const std::vector<value> &args) {
    outcome res;
    const op o = info.o;
    if (o == COPY) {
        int p2 = arr_of(args, 1);
        if (p2 >= 0 && state[size_t(p2)].code == I32) return take(state, args);
    }
    int p1 = arr_of(args, 0), p2 = arr_of(args, 1);
    if (p1 < 0 && p2 < 0) return res;
    const int code = state[size_t(p1 >= 0 ? p1 : p2)].code;
    const bool bitwise = o >= BAND && o <= SHR;
    if (bitwise && code == F64) return res;
    const bool bmissing = !present(args, 1) || arg(args, 1).kind == value::nil;
    const bool needs_b = o == ADD || o == SUB || o == MUL || o == POW || o == MAX || o == MIN;
    const bool unary = o == ABS || o == SGN || o == SGN0 || o == COPY;
    if (needs_b && bmissing) return res;
    if (p1 >= 0 && p2 >= 0 && state[size_t(p1)].code != state[size_t(p2)].code) return res;

    int a = -1, b = -1;
    bool left = false;
    double scalar = 0;
    if (p1 < 0) {
        scalar = tonum(arg(args, 0));
        left = true;
        a = p2;
    } else if (unary && bmissing) {
        a = b = p1;
    } else if (arg(args, 1).kind == value::integer || arg(args, 1).kind == value::number) {
        a = p1;
        scalar = tonum(arg(args, 1));
    } else if (p2 >= 0) {
        a = p1;
        b = p2;
    } else {
        a = p1;
    }
    const int pout = arr_of(args, 2);
    if (pout >= 0 && pout != a) {
        const array &x = state[size_t(pout)], &y = state[size_t(a)];
        if (x.width != y.width || x.height != y.height || x.code != y.code) return res;
    }
    const int64_t b_offset = kiv32(args, 3, 0), offset = kiv32(args, 4, 0);
    const int64_t count = kiv32(args, 5, 0x1000000), b_stride = kiv32(args, 6, 1);
    const int64_t stride = kiv32(args, 7, 1), spans = kiv32(args, 8, 1);

    // The scalar as the element type holds it.
    int64_t si = 0;
    if (code == I64) si = trunc_double_to_i64_or_min(scalar);
    else if (code != F64) si = narrow(code, trunc_double_to_i32_or_min(scalar));

    if (pout >= 0) {
        res.kind = outcome::existing;
        res.which = pout;
    } else if (truthy(arg(args, 2))) {
        res.kind = outcome::existing;
        res.which = a;
    } else {
        res.kind = outcome::fresh;
        res.made = state[size_t(a)];
        spend(res, state[size_t(a)].count() >> 7);
    }
    array &out = target(state, res);
    const array &A = state[size_t(a)];
    const array *B = b >= 0 ? &state[size_t(b)] : nullptr;

    // The walk's bounds, from the largest array the call was given: spans
    // visited, and elements written weighted by 48 / D. A walk that would
    // pass either raises before anything is written or charged.
    const int64_t weight = 48 / info.divisor[slot(code)];
    const int64_t largest = std::max(std::max(A.count(), B ? B->count() : 0), out.count());
    const int64_t span_bound = std::max(largest, int64_t(1) << 16);
    const int64_t weighted_bound = 2 * std::max(16 * largest, int64_t(1) << 16);
    if (count > 0) {
        int64_t visited = 0, written = 0;
        for (int64_t i = 0; i < spans; i++) {
            int64_t pos = offset + i * stride, bpos = b_offset + i * b_stride;
            int64_t n = std::min(count, std::min(A.count() - pos, out.count() - pos));
            if (B) n = std::min(n, B->count() - bpos);
            if (pos < 0) n -= -2 * pos;
            if (B && bpos < 0) n -= -bpos;
            visited++;
            if (n > 0) written += n;
            if (visited > span_bound || written * weight > weighted_bound) {
                outcome raised;
                raised.kind = outcome::raised;
                return raised;
            }
            if (n < count) break;
        }
    }
    int64_t total = 0;
    if (count > 0) {
        for (int64_t i = 0; i < spans; i++) {
            int64_t pos = offset + i * stride, bpos = b_offset + i * b_stride;
            int64_t n = count;
            n = std::min(n, A.count() - pos);
            n = std::min(n, out.count() - pos);
            if (B) n = std::min(n, B->count() - bpos);
            int64_t as = pos, os = pos, bs = bpos;
            if (pos < 0) {
                as = 0;
                n -= -pos;
                os = 0;
                n -= -pos;
            }
            if (B && bpos < 0) {
                bs = 0;
                n -= -bpos;
            }
            if (n > 0) {
                for (int64_t k = 0; k < n; k++) {
                    if (code == F64) {
                        double x = left ? scalar : getf(A, as + k);
                        double y = left ? getf(A, as + k) : B ? getf(*B, bs + k) : scalar;
                        setf(out, os + k, f64_rule(o, x, y));
                    } else {
                        int64_t x = left ? si : geti(A, as + k);
                        int64_t y = left ? geti(A, as + k) : B ? geti(*B, bs + k) : si;
                        seti(out, os + k, int_rule(o, code, x, y));
                    }
                }
            }
            total += n;
            if (n < count) break;
        }
    }
    // f64 mod: 6 cycles an element, its divisor still weighting the bound;
    // pow 4, a libm pow each.
    const int64_t elements = info.o == POW                ? total * 4
                             : info.o == MOD && code == F64 ? total * 6
                                                            : total / info.divisor[slot(code)];
    spend(res, elements + spans / 2);
    return res;
}

/* ---- take, clear ---- */

outcome take(std::vector<array> &state, const std::vector<value> &args) {
    outcome res;
    int src = arr_of(args, 0), idx = arr_of(args, 1);
    if (src < 0 || idx < 0 || state[size_t(idx)].code != I32) return res;
    const int code = state[size_t(src)].code;
    int pout = arr_of(args, 2);
    if (pout >= 0 && state[size_t(pout)].code != code) return res;
    const array I0 = state[size_t(idx)];
    const int64_t len_idx = I0.count();
    const int64_t idx_offset = kiv32(args, 3, 0), out_offset = kiv32(args, 4, 0);
    const int64_t span = kiv32(args, 5, 1), idx_stride = kiv32(args, 6, 1);
    const int64_t out_stride = kiv32(args, 7, span);
    const int64_t idx_count = kiv32(args, 8, span == 1 ? len_idx : int64_t(I0.width));
    if (pout >= 0) {
        res.kind = outcome::existing;
        res.which = pout;
    } else if (truthy(arg(args, 2))) {
        res.kind = outcome::existing;
        res.which = src;
    } else {
        array m;
        m.code = code;
        if (span == 1) {
            m.dims = I0.dims;
            m.width = I0.width;
            m.height = I0.dims < 2 ? 1 : I0.height;
        } else {
            if (span <= 0 || idx_count <= 0) return res;
            m.dims = 2;
            m.width = uint32_t(span);
            m.height = uint32_t(idx_count);
        }
        if (uint64_t(m.width) * m.height * uint64_t(m.size()) > 0x1000000) return res;
        m.data.assign(size_t(m.count() * m.size()), 0);
        res.kind = outcome::fresh;
        res.made = std::move(m);
    }
    int64_t n = 0;
    if (idx_stride != 0) {
        uint32_t q = (uint32_t(len_idx) - uint32_t(idx_offset)) / uint32_t(idx_stride);
        n = int32_t(std::min(q, uint32_t(idx_count)));
    }
    if (n <= 0) {
        spend(res, n / 2);
        return res;
    }
    array &out = target(state, res);
    const int64_t size = state[size_t(src)].size();
    // The steps whose index position lies inside idx, in order: each gives
    // (step, its index element).
    auto each_step = [&](auto visit) {
        for (int64_t i = 0; i < n; i++) {
            int64_t p = idx_offset + i * idx_stride;
            if (p < 0 || p >= len_idx) {
                // Skipped. Moving away from idx, no later step lies inside it;
                // moving toward it, go on at the first step that reaches it.
                if ((idx_stride > 0 && p >= len_idx) || (idx_stride < 0 && p < 0)) break;
                const int64_t gap = idx_stride > 0 ? -p : p - (len_idx - 1);
                const int64_t st = idx_stride > 0 ? idx_stride : -idx_stride;
                i += (gap + st - 1) / st - 1;
                continue;
            }
            visit(i, geti(state[size_t(idx)], p));
        }
    };
    // The write bound: steps x the most one step can copy; past it, the runs
    // counted from idx (unless out is idx, whose elements the steps rewrite).
    {
        const int64_t len_src = state[size_t(src)].count();
        const int64_t most = std::max<int64_t>(0, std::min(span, std::min(len_src, out.count())));
        int64_t steps = 0;
        each_step([&](int64_t, int64_t) { steps++; });
        int64_t writes = steps * most;
        const bool out_is_idx = res.kind == outcome::existing && res.which == idx;
        int64_t counted = 0;  // the count's charge: half a cycle a step
        if (writes > (int64_t(1) << 28) && !out_is_idx) {
            if (steps >= 2) counted = steps / 2;
            writes = 0;
            each_step([&](int64_t i, int64_t e) {
                int64_t o = out_offset + i * out_stride;
                int64_t m = std::min(span, std::min(len_src - e, out.count() - o));
                if (o < 0) m -= -o;
                if (e < 0) m -= -e;
                if (m > 0) writes += m;
            });
        }
        if (writes > (int64_t(1) << 28)) {
            outcome raised;
            raised.kind = outcome::raised;
            raised.charge = counted;
            return raised;
        }
        if (counted > 0) spend(res, counted);
    }
    int64_t copied = 0;
    each_step([&](int64_t i, int64_t e) {
        int64_t o = out_offset + i * out_stride;
        const array &S = state[size_t(src)];
        int64_t m = std::min(span, std::min(S.count() - e, out.count() - o));
        int64_t so = o, se = e;
        if (o < 0) m -= -o, so = 0;
        if (e < 0) m -= -e, se = 0;
        if (m >= 1) {
            for (int64_t k = 0; k < m; k++)
                std::memcpy(out.data.data() + (so + k) * size, S.data.data() + (se + k) * size, size_t(size));
        }
        if (m > 0) copied += m;
    });
    spend(res, copied / (code == I64 || code == F64 ? 12 : 24) + n / 2);
    return res;
}

outcome clear(std::vector<array> &state, const std::vector<value> &args) {
    outcome res;
    int a = arr_of(args, 0);
    if (a < 0) return res;
    array &A = state[size_t(a)];
    std::fill(A.data.begin(), A.data.end(), 0);
    res.kind = outcome::nothing_but_charge;
    spend(res, A.count() * A.size() * 8 / 512);
    return res;
}

/* ---- vectors and matrices ---- */

outcome lerp(std::vector<array> &state, const std::vector<value> &args) {
    outcome res;
    int a = arr_of(args, 0);
    if (a < 0) return res;
    array &A = state[size_t(a)];
    int64_t offset = kiv(args, 1, 0), len = kiv(args, 2, int64_t(A.width) - 1), el = kiv(args, 3, 1);
    int64_t runs = kiv(args, 4, A.height), rs = kiv(args, 5, A.width);
    if (len < 1 || runs < 1 || rs < 1 || el < 1 || offset < 0) return res;
    __int128 last = (__int128)(runs - 1) * rs + (__int128)len * el + offset;
    if (last >= A.count()) return res;
    if ((__int128)runs * (len - 1) > std::max(A.count(), int64_t(1) << 16)) {
        res.kind = outcome::raised;
        return res;
    }
    res.kind = outcome::existing;
    res.which = a;
    spend(res, runs * (len - 1) / 4);
    for (int64_t r = 0; r < runs; r++) {
        int64_t p = offset + r * rs;
        for (int64_t j = 1; j < len; j++) {
            if (A.code == F64) {
                double f = getf(A, p), d = fsub(getf(A, p + len * el), f);
                setf(A, p + j * el, fadd(fdiv(fmul(d, double(j)), double(len)), f));
            } else {
                int64_t f = geti(A, p);
                double d = double((__int128)geti(A, p + len * el) - f);
                seti(A, p + j * el, saturate_double_to_i64((d * double(j)) / double(len) + double(f)));
            }
        }
    }
    return res;
}

const array *f64(const std::vector<array> &state, const std::vector<value> &args, size_t i) {
    int x = arr_of(args, i);
    return x >= 0 && state[size_t(x)].code == F64 ? &state[size_t(x)] : nullptr;
}

outcome vector_number(std::vector<array> &state, const std::string &name, const std::vector<value> &args) {
    outcome res;
    const array *a = f64(state, args, 0);
    if (!a) return res;
    double sum = 0.0;
    if (name == "magnitude") {
        for (uint32_t k = 0; k < a->width; k++) sum = fadd(sum, fmul(getf(*a, k), getf(*a, k)));
        res.num = std::sqrt(sum);
        spend(res, a->width / 4 + 2);
    } else {
        const array *b = f64(state, args, 1);
        if (!b) return res;
        uint32_t n = std::min(a->width, b->width);
        for (uint32_t k = 0; k < n; k++) {
            if (name == "dot") {
                sum = fadd(sum, fmul(getf(*a, k), getf(*b, k)));
            } else {
                float d = float(fsub(getf(*a, k), getf(*b, k)));
                float sq = d * d;
                sum = fadd(sum, double(sq));
            }
        }
        res.num = name == "dot" ? sum : std::sqrt(sum);
        spend(res, n / 4 + (name == "dot" ? 1 : 2));
    }
    res.kind = outcome::number;
    return res;
}

// Output choice at position 3 for cross and the products; false when refused.
bool output3(std::vector<array> &state, const std::vector<value> &args, int a, outcome &res) {
    int pout = arr_of(args, 2);
    if (pout >= 0) {
        if (state[size_t(pout)].code != F64) return false;
        res.kind = outcome::existing;
        res.which = pout;
    } else if (truthy(arg(args, 2))) {
        res.kind = outcome::existing;
        res.which = a;
    }
    return true;
}

outcome cross(std::vector<array> &state, const std::vector<value> &args) {
    outcome res, none;
    if (!f64(state, args, 0) || !f64(state, args, 1)) return none;
    int a = arr_of(args, 0), b = arr_of(args, 1);
    if (!output3(state, args, a, res)) return none;
    int64_t copied = 0;  // a fresh output is a copy of b: 32 bytes a cycle
    if (res.kind == outcome::none) {
        res.kind = outcome::fresh;
        res.made = state[size_t(b)];
        copied = res.made.count() * 8 / 32;
    }
    array &out = target(state, res);
    const array &A = state[size_t(a)], &B = state[size_t(b)];
    if (A.width < 3 || B.width < 3 || out.width < 3) return none;
    double a0 = getf(A, 0), a1 = getf(A, 1), a2 = getf(A, 2), b0 = getf(B, 0), b1 = getf(B, 1), b2 = getf(B, 2);
    setf(out, 0, fsub(fmul(a1, b2), fmul(a2, b1)));
    setf(out, 1, fsub(fmul(a2, b0), fmul(a0, b2)));
    setf(out, 2, fsub(fmul(a0, b1), fmul(a1, b0)));
    spend(res, 2 + copied);
    return res;
}

outcome matmul(std::vector<array> &state, const std::vector<value> &args) {
    outcome res, none;
    if (!f64(state, args, 0) || !f64(state, args, 1)) return none;
    int a = arr_of(args, 0), b = arr_of(args, 1);
    if (!output3(state, args, a, res)) return none;
    const array A = state[size_t(a)], B = state[size_t(b)];  // copies: the scratch
    if (A.width != B.height) return none;
    if (res.kind == outcome::none) {
        if (uint64_t(B.width) * A.height * 8 > 0x1000000) return none;
        res.kind = outcome::fresh;
        res.made.code = F64;
        res.made.dims = 2;
        res.made.width = B.width;
        res.made.height = A.height;
        res.made.data.assign(size_t(res.made.count() * 8), 0);
    } else {
        const array &O = state[size_t(res.which)];
        if (O.width != B.width || O.height != A.height) return none;
        if (res.which == a) spend(res, (int64_t(A.height) * A.width) >> 8);
        if (res.which == b) spend(res, (int64_t(B.width) * A.width) >> 8);
    }
    array &out = target(state, res);
    for (uint32_t y = 0; y < A.height; y++)
        for (uint32_t x = 0; x < B.width; x++) {
            double s = 0.0;
            for (uint32_t k = 0; k < A.width; k++) s = fadd(s, fmul(getf(A, int64_t(y) * A.width + k), getf(B, int64_t(k) * B.width + x)));
            setf(out, int64_t(y) * out.width + x, s);
        }
    // b's columns in blocks of 16, as wide as a whole block
    spend(res, int64_t(uint64_t(A.height) * A.width * ((B.width + 15) / 16 * 16) >> 3));
    return res;
}

outcome affine(std::vector<array> &state, const std::vector<value> &args, uint32_t d) {
    outcome res, none;
    if (!f64(state, args, 0) || !f64(state, args, 1)) return none;
    int a = arr_of(args, 0), b = arr_of(args, 1);
    if (!output3(state, args, a, res)) return none;
    const array A = state[size_t(a)], B = state[size_t(b)];
    if (B.width < d || B.height != d + 1) return none;
    if (A.width < d || (A.height != d + 1 && A.height != 1)) return none;
    if (res.kind == outcome::existing) {
        const array &O = state[size_t(res.which)];
        if (O.width < d || O.height < A.height) return none;
        if (res.which == a) spend(res, (A.height == 1 ? int64_t(d) : int64_t(A.width) * A.height) >> 8);
        if (res.which == b) spend(res, (int64_t(B.width) * (d + 1)) >> 8);
    } else {
        res.kind = outcome::fresh;
        res.made = A;
    }
    array &out = target(state, res);
    for (uint32_t r = 0; r < A.height; r++)
        for (uint32_t c = 0; c < d; c++) {
            double s = 0.0;
            for (uint32_t k = 0; k < d; k++) s = fadd(s, fmul(getf(A, int64_t(r) * A.width + k), getf(B, int64_t(k) * B.width + c)));
            if (A.height == 1 || r == d) s = fadd(s, getf(B, int64_t(d) * B.width + c));
            setf(out, int64_t(r) * out.width + c, s);
        }
    spend(res, A.height == 1 ? 1 : d == 3 ? 4 : 2);
    return res;
}

outcome transpose(std::vector<array> &state, const std::vector<value> &args) {
    outcome res, none;
    int a = arr_of(args, 0);
    if (a < 0) return none;
    int pout = arr_of(args, 1);
    const array A = state[size_t(a)];
    if (pout >= 0) {
        res.kind = outcome::existing;
        res.which = pout;
    } else if (truthy(arg(args, 1))) {
        res.kind = outcome::existing;
        res.which = a;
    } else {
        res.kind = outcome::fresh;
        res.made.code = A.code;
        res.made.dims = 2;
        res.made.width = A.height;
        res.made.height = A.width;
        res.made.data.assign(A.data.size(), 0);
    }
    array &out = target(state, res);
    if (out.code != A.code) return none;
    int64_t written;
    const int64_t size = A.size();
    if (res.kind == outcome::existing && res.which == a) {
        int64_t n = std::min(A.width, A.height);
        for (int64_t i = 0; i < n; i++)
            for (int64_t j = 0; j < i; j++) {
                std::vector<uint8_t> t(static_cast<size_t>(size));
                uint8_t *p = out.data.data() + (i * A.width + j) * size, *q = out.data.data() + (j * A.width + i) * size;
                std::memcpy(t.data(), p, size_t(size));
                std::memcpy(p, q, size_t(size));
                std::memcpy(q, t.data(), size_t(size));
            }
        written = n * (n - 1);
    } else {
        int64_t ys = std::min<int64_t>(out.height, A.width), xs = std::min<int64_t>(out.width, A.height);
        for (int64_t y = 0; y < ys; y++)
            for (int64_t x = 0; x < xs; x++)
                std::memcpy(out.data.data() + (y * out.width + x) * size, A.data.data() + (x * A.width + y) * size, size_t(size));
        written = ys * xs;
    }
    spend(res, written / (size == 8 ? 2 : 4));
    return res;
}

outcome row_or_column(std::vector<array> &state, const std::vector<value> &args, bool row) {
    outcome res;
    int a = arr_of(args, 0);
    if (a < 0) return res;
    const array &A = state[size_t(a)];
    int64_t i = kiv(args, 1, -1);
    if (i < 0 || i >= int64_t(row ? A.height : A.width)) return res;
    res.kind = outcome::fresh;
    array &m = res.made;
    m.code = A.code;
    m.dims = 2;
    m.width = row ? A.width : 1;
    m.height = row ? 1 : A.height;
    m.data.assign(size_t(m.count() * A.size()), 0);
    for (int64_t k = 0; k < m.count(); k++) {
        int64_t from = row ? i * A.width + k : k * A.width + i;
        std::memcpy(m.data.data() + k * A.size(), A.data.data() + from * A.size(), size_t(A.size()));
    }
    spend(res, row ? std::max<int64_t>(A.width / 4, int64_t(A.width) * A.size() / 8) : A.height);
    return res;
}

}  // namespace

bool known(const std::string &name) {
    static const char *const others[] = {"take", "clear", "lerp", "magnitude", "distance", "dot", "cross",
                                         "matmul", "matmul3d", "matmul2d", "transpose", "row", "column"};
    if (find_op(name)) return true;
    for (const char *o : others)
        if (name == o) return true;
    return false;
}

outcome call(std::vector<array> &state, const std::string &name, const std::vector<value> &args) {
    if (const op_info *info = find_op(name)) return frame(state, *info, args);
    if (name == "take") return take(state, args);
    if (name == "clear") return clear(state, args);
    if (name == "lerp") return lerp(state, args);
    if (name == "magnitude" || name == "distance" || name == "dot") return vector_number(state, name, args);
    if (name == "cross") return cross(state, args);
    if (name == "matmul") return matmul(state, args);
    if (name == "matmul3d") return affine(state, args, 3);
    if (name == "matmul2d") return affine(state, args, 2);
    if (name == "transpose") return transpose(state, args);
    if (name == "row") return row_or_column(state, args, true);
    if (name == "column") return row_or_column(state, args, false);
    return {};
}

}  // namespace udref

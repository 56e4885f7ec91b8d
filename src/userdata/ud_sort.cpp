// Typed arrays: sorting rows in place by the value in one key column,
// counting every key comparison and charging the bytes of rows moved.
#include <cstdlib>
#include <cstring>
#include <utility>

#include "intp.h"
#include "ud_methods.h"
#include "ud_ops.h"
#include "vm_hooks.h"

namespace {

// One row to sort: its key mapped to an unsigned order, and its index.
struct sort_item {
    uint64_t key;
    uint64_t row;
};

// Keys as unsigned numbers in the order of the element type's values. f64
// keys follow a total order: -0.0 equals 0.0, every NaN equals every other
// NaN and lies above every number.
template <class T> uint64_t order_key(const uint8_t *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (sizeof(T) == 1) {
        return v;
    } else if constexpr (T(0.5) != T(0)) {
        if (v != v) return UINT64_MAX;
        if (v == 0) v = 0.0;
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return bits >> 63 ? ~bits : bits | (uint64_t(1) << 63);
    } else {
        return uint64_t(int64_t(v)) ^ (uint64_t(1) << 63);
    }
}

template <class T>
void make_keys(sort_item *items, const uint8_t *area, int64_t rows, int64_t row_bytes, int64_t key,
               bool descending) {
    for (int64_t r = 0; r < rows; r++) {
        uint64_t k = order_key<T>(area + r * row_bytes + key * int64_t(sizeof(T)));
        items[r] = {descending ? ~k : k, uint64_t(r)};
    }
}

// Introsort, counting every comparison of two keys it makes. 'Less' orders
// two values of V by their keys.
template <class V, class Less> class counting_sort {
  public:
    explicit counting_sort(Less less) : less_(less) {}
    uint64_t compares = 0;

    void sort(V *v, int64_t n) {
        int depth = 0;
        for (int64_t m = n; m > 1; m >>= 1) depth += 2;
        quick(v, 0, n - 1, depth);
    }

  private:
    Less less_;

    bool less(const V &x, const V &y) {
        compares++;
        return less_(x, y);
    }

    void insertion(V *v, int64_t lo, int64_t hi) {
        uint64_t n = 0;  // a local count stays in a register
        for (int64_t i = lo + 1; i <= hi; i++) {
            V x = v[i];
            int64_t j = i;
            while (j > lo) {
                n++;
                if (!less_(x, v[j - 1])) break;
                v[j] = v[j - 1];
                j--;
            }
            v[j] = x;
        }
        compares += n;
    }

    void sift(V *v, int64_t root, int64_t n) {
        for (;;) {
            int64_t child = 2 * root + 1;
            if (child >= n) return;
            if (child + 1 < n && less(v[child], v[child + 1])) child++;
            if (!less(v[root], v[child])) return;
            std::swap(v[root], v[child]);
            root = child;
        }
    }

    void heap(V *v, int64_t n) {
        for (int64_t i = n / 2 - 1; i >= 0; i--) sift(v, i, n);
        for (int64_t end = n - 1; end > 0; end--) {
            std::swap(v[0], v[end]);
            sift(v, 0, end);
        }
    }

    // The index of the median of v[x], v[y], v[z].
    int64_t median3(V *v, int64_t x, int64_t y, int64_t z) {
        if (less(v[x], v[y])) {
            if (less(v[y], v[z])) return y;
            return less(v[x], v[z]) ? z : x;
        }
        if (less(v[x], v[z])) return x;
        return less(v[y], v[z]) ? z : y;
    }

    // Moves the elements of v[lo + 1 .. hi] that 'take' selects to the front
    // of that range, in one pass without branches on the keys; each element
    // is compared with the pivot once. Returns the index after the last one moved.
    template <class Take> int64_t split(V *v, int64_t lo, int64_t hi, Take take) {
        int64_t b = lo + 1;
        for (int64_t i = lo + 1; i <= hi; i++) {
            const V x = v[i];
            const bool t = take(x);
            v[i] = v[b];
            v[b] = x;
            b += t;
        }
        compares += uint64_t(hi - lo);
        return b;
    }

    // 'pred', when not null, is an element before the range that no key of
    // the range lies below (the pivot of the parent range): a pivot equal to
    // it means a run of equal keys, which is set aside in one pass.
    void quick(V *v, int64_t lo, int64_t hi, int depth, const V *pred = nullptr) {
        while (hi - lo >= 16) {
            if (depth-- == 0) {
                heap(v + lo, hi - lo + 1);
                return;
            }
            // Candidates away from the ends: a pass leaves the largest key of
            // a sorted run at the front of the upper part.
            const int64_t q = (hi - lo) / 4;
            std::swap(v[lo], v[median3(v, lo + q, lo + 2 * q, lo + 3 * q)]);
            const V p = v[lo];
            if (pred && !less(*pred, p)) {
                // Keys equal to the pivot go to the front and are done.
                lo = split(v, lo, hi, [&](const V &x) { return !less_(p, x); });
                continue;
            }
            const int64_t b = split(v, lo, hi, [&](const V &x) { return less_(x, p); });
            std::swap(v[lo], v[b - 1]);
            const int64_t mid = b - 1;
            if (mid - lo < hi - mid) {
                quick(v, lo, mid - 1, depth, pred);
                lo = mid + 1;
                pred = &v[mid];
            } else {
                quick(v, mid + 1, hi, depth, &v[mid]);
                hi = mid - 1;
            }
        }
        insertion(v, lo, hi);
    }
};

// Rows of one element: the values themselves are sorted in place. Integer
// keys are their values; f64 keys put NaN above every number and -0.0 equal
// to 0.0, as order_key does.
template <class T> uint64_t sort_values(uint8_t *area, int64_t n, bool descending) {
    T *v = reinterpret_cast<T *>(area);
    auto key_less = [](const T &x, const T &y) {
        if constexpr (T(0.5) != T(0)) {
            return !(x != x) && ((y != y) || x < y);
        } else {
            return x < y;
        }
    };
    if (descending) {
        auto more = [key_less](const T &x, const T &y) { return key_less(y, x); };
        counting_sort<T, decltype(more)> s(more);
        s.sort(v, n);
        return s.compares;
    }
    counting_sort<T, decltype(key_less)> s(key_less);
    s.sort(v, n);
    return s.compares;
}

}  // namespace

int lua54_ud_sort(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    const int64_t key = int32_t(uint32_t(uint64_t(kiv_intp(L, 2, 0))));
    const bool descending = lua_gettop(L) >= 3 && lua_toboolean(L, 3);
    const int64_t count = int64_t(ud_count(rec));
    const int64_t row_len = rec->height >= 2 ? rec->width : 1;
    const int64_t rows = row_len > 0 ? count / row_len : 0;
    if (key < 0 || key >= row_len) return 0;
    const int code = ud_type(rec);
    uint64_t compares = 0;
    int64_t moved = 0;  // the charge for the bytes of rows moved
    if (rows >= 2 && row_len == 1 && ud_type_slot(code) >= 0) {
        uint8_t *area = ud_elements(rec);
        switch (code) {
        case UTYPE_U8: compares = sort_values<uint8_t>(area, rows, descending); break;
        case UTYPE_I16: compares = sort_values<int16_t>(area, rows, descending); break;
        case UTYPE_I32: compares = sort_values<int32_t>(area, rows, descending); break;
        case UTYPE_I64: compares = sort_values<int64_t>(area, rows, descending); break;
        default: compares = sort_values<double>(area, rows, descending); break;
        }
    } else if (rows >= 2 && ud_type_slot(code) >= 0) {
        const int64_t size = utype_size(code);
        const int64_t row_bytes = row_len * size;
        const int64_t data_bytes = rows * row_bytes;
        // One block: the items, then a copy of the rows in their new order.
        auto *items = static_cast<sort_item *>(std::malloc(size_t(rows) * sizeof(sort_item) + size_t(data_bytes)));
        if (!items) return 0;
        uint8_t *area = ud_elements(rec);
        switch (code) {
        case UTYPE_U8: make_keys<uint8_t>(items, area, rows, row_bytes, key, descending); break;
        case UTYPE_I16: make_keys<int16_t>(items, area, rows, row_bytes, key, descending); break;
        case UTYPE_I32: make_keys<int32_t>(items, area, rows, row_bytes, key, descending); break;
        case UTYPE_I64: make_keys<int64_t>(items, area, rows, row_bytes, key, descending); break;
        default: make_keys<double>(items, area, rows, row_bytes, key, descending); break;
        }
        auto by_key = [](const sort_item &x, const sort_item &y) { return x.key < y.key; };
        counting_sort<sort_item, decltype(by_key)> s(by_key);
        s.sort(items, rows);
        compares = s.compares;
        uint8_t *sorted = reinterpret_cast<uint8_t *>(items + rows);
        for (int64_t r = 0; r < rows; r++)
            std::memcpy(sorted + r * row_bytes, area + int64_t(items[r].row) * row_bytes, size_t(row_bytes));
        std::memcpy(area, sorted, size_t(data_bytes));
        std::free(items);
        // The rows were moved twice, into a block whose pages are new and
        // back: 16 bytes a cycle, and a cycle a row for its key and its
        // copy. A few rows of megabytes take few comparisons but
        // milliseconds.
        moved = data_bytes / 16 + rows;
    }
    const uint64_t cycles = compares + uint64_t(moved);
    spend_cpu(cycles > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(cycles));
    lua_pushinteger(L, lua_Integer(compares));
    return 1;
}

// Typed arrays: element copies between an array and the running process's
// address space.
#include "address_space.h"
#include "intp.h"
#include "ud_elem.h"
#include "ud_methods.h"
#include "vm_hooks.h"

namespace {

// One peek or poke: which elements move, and from or to where.
struct transfer {
    typed_ud_rec *rec; // the array
    uint64_t addr;     // address of the first element moved (low 24 bits count)
    uint64_t first;    // index of the first element moved
    int64_t n;         // elements to move; 0 or less moves nothing
};

// Reads receiver, address, offset and count; false (no result) when the
// receiver is not an array or is an f64 array.
bool read_transfer(lua_State *L, transfer *t) {
    t->rec = to_typed_ud(L, 1);
    if (!t->rec || ud_type(t->rec) == UTYPE_F64) return false;
    int64_t count = int64_t(ud_count(t->rec));
    t->addr = uint64_t(kiv_intp(L, 2, 0));
    int64_t offset = kiv_intp(L, 3, 0);
    if (offset < 0) offset = 0;
    int64_t want = kiv_intp(L, 4, count);
    int64_t left = count - offset;  // count <= 2^24 and offset >= 0: no overflow
    t->first = uint64_t(offset);
    t->n = want < left ? want : left;
    return true;
}

// Charges half the elements moved (each through the address space's page
// lookup): at least 1 for 0 to 1, nothing when the count is negative.
void charge(int64_t n) { spend_cpu(n < 0 ? -1 : int32_t(n >> 1)); }

}  // namespace

int lua54_ud_peek(lua_State *L) {
    transfer t;
    if (!read_transfer(L, &t)) return 0;
    uint8_t *area = ud_elements(t.rec);
    int code = ud_type(t.rec);
    uint64_t size = utype_size(code);
    for (int64_t i = 0; i < t.n; i++) {
        auto a = uint32_t(t.addr + uint64_t(i) * size);
        uint64_t e = t.first + uint64_t(i);
        switch (code) {
        case UTYPE_U8: ud_write_int(area, code, e, peek(a)); break;
        case UTYPE_I16: ud_write_int(area, code, e, peek2(a)); break;
        case UTYPE_I32: ud_write_int(area, code, e, peek4(a)); break;
        default: ud_write_int(area, code, e, peek8(a)); break;
        }
    }
    charge(t.n);
    lua_pushvalue(L, 1);
    return 1;
}

int lua54_ud_poke(lua_State *L) {
    transfer t;
    if (!read_transfer(L, &t)) return 0;
    const uint8_t *area = ud_elements(t.rec);
    int code = ud_type(t.rec);
    uint64_t size = utype_size(code);
    for (int64_t i = 0; i < t.n; i++) {
        auto a = uint32_t(t.addr + uint64_t(i) * size);
        int64_t v = ud_read_int(area, code, t.first + uint64_t(i));
        switch (code) {
        case UTYPE_U8: poke(a, v); break;
        case UTYPE_I16: poke2(a, v); break;
        case UTYPE_I32: poke4(a, v); break;
        default: poke8(a, v); break;
        }
    }
    charge(t.n);
    lua_pushvalue(L, 1);
    return 1;
}

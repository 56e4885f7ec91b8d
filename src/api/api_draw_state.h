/*
** What every drawing call of the script API shares: access to the running
** process's register page, the colour argument, the clip cache, the
** temporary full clip of blits into another array, the batch records of
** f64 arrays, the anchors that keep arrays the host points at alive, and
** the arithmetic that takes script integers to the rasteriser's.
*/
#ifndef QUILLMAR_API_API_DRAW_STATE_H
#define QUILLMAR_API_API_DRAW_STATE_H

#include <stdint.h>

#include "draw_state.h"  // register addresses
#include "intp.h"
#include "process.h"
#include "typed_ud.h"

struct lua_State;

/* ---- the register page ---- */

/* The slow paths of reg_read and reg_write: a register page not served
   whole by one block. */
uint64_t reg_read_slow(process_rec *rec, uint32_t a, int n);
void reg_write_slow(process_rec *rec, uint32_t a, uint64_t v, int n, bool poked);

inline constexpr uint32_t REGISTER_PAGE = DRAW_STATE_ADDR >> PAGE_SHIFT;

/* Reads n (1, 2, 4 or 8) bytes of rec's register page at a, little-endian,
   through whatever serves the page (its mapped array, else its own page).
   The value is zero-extended. */
inline uint64_t reg_read(process_rec *rec, uint32_t a, int n) {
    if (rec->page_len[REGISTER_PAGE] != PAGE_BYTES) return reg_read_slow(rec, a, n);
    uint64_t v = 0;
    __builtin_memcpy(&v, rec->page[REGISTER_PAGE] + (a - DRAW_STATE_ADDR), size_t(n));
    return v;
}

/* Writes the low n bytes of v at a. 'poked': the write stands for a poke,
   which marks the page written (flags 255); a direct write leaves them. */
inline void reg_write(process_rec *rec, uint32_t a, uint64_t v, int n, bool poked) {
    if (rec->page_len[REGISTER_PAGE] != PAGE_BYTES) return reg_write_slow(rec, a, v, n, poked);
    __builtin_memcpy(rec->page[REGISTER_PAGE] + (a - DRAW_STATE_ADDR), &v, size_t(n));
    if (poked) rec->page_flags[REGISTER_PAGE] = 255;
}

inline int16_t reg_i16(process_rec *rec, uint32_t a) { return int16_t(uint16_t(reg_read(rec, a, 2))); }
inline int32_t reg_i32(process_rec *rec, uint32_t a) { return int32_t(uint32_t(reg_read(rec, a, 4))); }
inline uint8_t reg_u8(process_rec *rec, uint32_t a) { return uint8_t(reg_read(rec, a, 1)); }

/* ---- colour arguments ---- */

/* Applies a colour argument: the pen from bits 0-15 (poked), a 4 x 4 fill
   pattern from bits 16-31 when bit 32 is set (written directly), and the
   inverted fill when bit 35 is set. */
void set_colp(int64_t v);

/* Applies argument n when it is of type number, then returns the pen as a
   sign-extended 16-bit value. */
int32_t colp(lua_State *L, int n);

/* The pen of the running process, sign-extended. */
int32_t pen(void);

/* Writes the 4 x 4 pattern p (bit 15 the top-left pixel) into the eight
   pattern rows of the running process, directly. */
void write_pattern_16(uint32_t p);

/* ---- clip ---- */

/* The running process's draw target, its clip refreshed; null (nothing
   refreshed) when there is none. */
typed_ud_rec *draw_target_refreshed(void);

/* The whole of 'bitmap' as the clip, the one in effect kept aside; and back. */
void set_temporary_clipping(typed_ud_rec *bitmap);
void restore_after_temporary_clipping(void);

/* ---- arithmetic ---- */

inline int32_t sat32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}
inline int64_t add64(int64_t a, int64_t b) {
    int64_t r;
    return __builtin_add_overflow(a, b, &r) ? (b > 0 ? INT64_MAX : INT64_MIN) : r;
}
inline int64_t sub64(int64_t a, int64_t b) {
    int64_t r;
    return __builtin_sub_overflow(a, b, &r) ? (b < 0 ? INT64_MAX : INT64_MIN) : r;
}

/* Charges a cost summed in 64 bits: above INT32_MAX as INT32_MAX, below 0
   nothing (spend_cpu ignores it). */
void charge(int64_t cycles);

/* The camera of the running process. */
int32_t camera_x(void);
int32_t camera_y(void);

/* ---- batches ---- */

/* Records of an f64 array, by the batch rule: start, count, fields and
   stride from arguments 2 to 5. */
struct batch_reader {
    const double *el = nullptr;
    int64_t next_index = 0;  /* element of the next record */
    int64_t last = -1;       /* last index a record may start at */
    int64_t stride = 0;
    int64_t left = 0;        /* records still allowed */
    int32_t fields = 0;      /* leading fields read from each record */

    /* Takes the next record; false when the batch has ended. */
    bool next(const double **record) {
        if (left <= 0 || next_index < 0 || next_index > last) return false;
        *record = el + next_index;
        left--;
        next_index = add64(next_index, stride);
        return true;
    }
    /* Field i of a record, or 'def' past the fields read. */
    double field(const double *record, int i, double def) const { return i < fields ? record[i] : def; }
};

/* Most records one batch call draws. */
inline constexpr int64_t BATCH_MAX_RECORDS = 0x40000;

/* The f64 array at argument 1, or null. */
typed_ud_rec *batch_array(lua_State *L);

/* Sets up the reader for the f64 array a with at most 'max_fields'. */
batch_reader read_batch(lua_State *L, typed_ud_rec *a, int max_fields);

/* ---- anchors ---- */

/* Keys of the anchor table, one per raw pointer the host holds. */
inline constexpr int64_t ANCHOR_TARGET = 1;
inline constexpr int64_t ANCHOR_MAP = 2;
inline constexpr int64_t ANCHOR_SPRITE = 16;           /* + slot, 0..16383 */
inline constexpr int64_t ANCHOR_PAGE = 16 + 16384;     /* + page, 0..4095 */

/* Stores the value at stack index 'idx' (nil releases) under 'key' in the
   process's anchor table, made on first use. May raise a memory error,
   before anything else has changed. */
void anchor_set(lua_State *L, int64_t key, int idx);

/* Makes the anchor table now, when missing. Making it may run the
   program's finalizers: a call that anchors calls this before it reads
   anything, so that its anchor_set and anchor_clear allocate nothing that
   can run them. May raise a memory error. */
void anchors_ready(lua_State *L);

/* Pushes what 'key' holds (nil when nothing) and returns its type. Never
   allocates. */
int anchor_push(lua_State *L, int64_t key);

/* Releases 'key'. Never allocates. */
void anchor_clear(lua_State *L, int64_t key);

#endif

/*
** Batch drawing calls that pay as they go: the records of an f64 array are
** drawn one by one, each charged as it is drawn, and when the process's
** budget for its slice is spent the call yields between two records and
** goes on at the next one in the process's next slice.
*/
#ifndef QUILLMAR_API_API_BATCH_H
#define QUILLMAR_API_API_BATCH_H

#include <stdint.h>

#include "api_draw_state.h"
#include "blits.h"  // target_before

struct lua_State;

/* What the records of a batch call share: fixed before its first record
   but for the target's copy, which a slice may make or make anew. */
struct batch_fixed {
    int32_t camera_x; /* taken off the records' coordinates */
    int32_t camera_y;
    int64_t pen;      /* colour of records without one */
    target_before *before; /* the call's copy of the target, for records
                              whose sprite is the target (rules that read it) */
};

/* Draws record 'r' of reader 'b' into 't'; returns the rasteriser cost
   (0 or more). Holds nothing between records: everything it needs is in
   'b', 'f' and the process's state. */
typedef int64_t (*batch_draw_fn)(typed_ud_rec *t, const batch_reader &b, const double *r,
                                 const batch_fixed &f);

/*
** How a batch call draws and charges. The whole call charges one cycle,
** per_record for each record read, whether or not any of it lands on the
** target (less that first cycle), and its summed
** rasteriser cost / divisor (at least 1 when that sum is not 0), each
** record paid as it is drawn.
*/
struct batch_rule {
    int max_fields;     /* fields read of each record */
    int32_t per_record; /* cycles for each record read */
    int32_t divisor;    /* of the summed cost: 1 or 3 */
    batch_draw_fn draw; /* one record; null where draw_run draws them */
    void (*enter)(void); /* before the first record of each slice, or null */
    bool reads_target;   /* records read sprites, which may be the target: the
                            call copies the target when a record is drawn
                            while a sprite slot holds it */
    /* For a rule whose records cost per_record alone (1 or more), or null:
       draws up to n records of 'b' and returns how many it drew. Records
       are then drawn in runs that fit the slice's budget, one charge and
       one budget test a run. */
    int64_t (*draw_run)(typed_ud_rec *t, batch_reader &b, int64_t n, const batch_fixed &f);
};

/*
** Runs the batch form of a call: argument 1 an f64 array (the caller found
** it with batch_array, with a draw target present), arguments 2 to 5 the
** batch rule's start, count, fields and stride. 'pen' is the colour of
** records without one. Returns the call's result count (0), or yields
** between records while the records left need more than this slice's
** budget; where the call cannot yield, it runs on and raises the
** watchdog error once the overrun passes the interpreter's margin.
** A rule that reads the target copies it, the first time a record is drawn
** while a sprite slot holds it (in whatever slice), into a block of the
** call's own kept on its stack, charged width x height / 64: the records
** read that copy while the target's header is the one copied; once the
** target changed, the next record drawn while a slot holds it copies it
** anew.
*/
int run_batch(lua_State *L, const batch_rule *rule, int64_t pen);

#endif

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

/* What a batch call fixed before its first record, the same for every
   record whatever slice draws it. */
struct batch_fixed {
    int32_t camera_x; /* taken off the records' coordinates */
    int32_t camera_y;
    int64_t pen;      /* colour of records without one */
    target_before *before; /* the target as the call found it, for records
                              whose sprite is the target (rules that read it) */
};

/* Draws record 'r' of reader 'b' into 't'; returns the rasteriser cost
   (0 or more). Holds nothing between records: everything it needs is in
   'b', 'f' and the process's state. */
typedef int64_t (*batch_draw_fn)(typed_ud_rec *t, const batch_reader &b, const double *r,
                                 const batch_fixed &f);

/*
** How a batch call draws and charges. The whole call charges
** spend_cpu(per_record x records drawn), then, when the summed cost is not
** 0, spend_cpu(cost / divisor); drawing as it goes, the charge made so far
** is always that sum for the records drawn so far.
*/
struct batch_rule {
    int max_fields;     /* fields read of each record */
    int32_t per_record; /* cycles for each record drawn */
    int32_t divisor;    /* of the summed cost: 1 or 3 */
    batch_draw_fn draw;
    void (*enter)(void); /* before the first record of each slice, or null */
    bool reads_target;   /* records read sprites, which may be the target: the
                            call copies the target first, when a slot holds it */
};

/*
** Runs the batch form of a call: argument 1 an f64 array (the caller found
** it with batch_array, with a draw target present), arguments 2 to 5 the
** batch rule's start, count, fields and stride. 'pen' is the colour of
** records without one. Returns the call's result count (0), or yields
** between records while the records left need more than this slice's
** budget; where the call cannot yield, it runs on and raises the
** watchdog error once the overrun passes the interpreter's margin.
** A rule that reads the target first copies it (when a sprite slot holds
** it) into a block kept on the call's stack, charged width x height / 64:
** every record, in whatever slice, reads that copy while the target is the
** one copied.
*/
int run_batch(lua_State *L, const batch_rule *rule, int64_t pen);

#endif

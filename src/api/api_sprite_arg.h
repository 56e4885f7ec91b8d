/*
** The sprite argument of spr, sspr and tline3d: an array used directly, or
** the index of one of the running process's sprite slots.
*/
#ifndef QUILLMAR_API_API_SPRITE_ARG_H
#define QUILLMAR_API_API_SPRITE_ARG_H

#include <stdint.h>

#include "typed_ud.h"

/* Slots the drawing calls accept (the slot setter writes 0 to 8191). */
inline constexpr int64_t SPRITE_SLOTS = 16384;

/* Argument 'index': an array, else the slot of its integer value (default
   -1); null for an index outside the slots or an empty slot. */
typed_ud_rec *sprite_argument(lua_State *L, int index);

/* Slot 'index' of the running process, or null. */
typed_ud_rec *sprite_by_index(int64_t index);

#endif

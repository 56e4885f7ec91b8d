/*
** Fetched-text decoding: the value of a file's bytes, chosen by the file's
** extension, as fetch, the history fetch and remote fetches return it.
*/
#ifndef QUILLMAR_API_FETCHED_VALUE_H
#define QUILLMAR_API_FETCHED_VALUE_H

#include <stdint.h>

struct lua_State;
struct buffer_rec;

/* A PNG is decoded only when its header gives each side above 0 and no
   more pixels than this (one u8 array's largest element area). */
inline constexpr uint64_t FETCH_PNG_MAX_PIXELS = 0x1000000;

/*
** Pushes the value of the fetched bytes 'b' and returns the count of values
** pushed (0: nothing). By the lower-cased extension 'ext' (get_ext):
** - "txt", "pn", "lua": the bytes are converted from host text first, then
**   decoded as any other text below;
** - "png": a PNG whose header gives a plausible size and that decodes
**   becomes a 2-dimensional u8 array of nearest palette indices (charged
**   width x height / 2); other bytes are decoded as any other text;
** - "pod": the pod value of the whole text (nothing when it does not parse);
** - any other text: pod when it begins with "-- quillmar object data" or
**   "--[[pod", else the raw bytes as a string.
** 'b' (may be null: nothing) is released in every case, before a memory
** error is raised again.
*/
int unpod_from_fetched_buffer(lua_State *L, buffer_rec *b, const char *ext);

/*
** The width and height a PNG's header chunk declares: true when the 'len'
** bytes at 'bytes' are long enough to hold it and its chunk type is IHDR.
*/
bool png_header_size(const uint8_t *bytes, int64_t len, uint32_t *w, uint32_t *h);

#endif

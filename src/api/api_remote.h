/*
** Remote fetches from Lua, and the download cache's callback: a finished
** download of a cartridge image from one of the two cartridge places is kept
** in "cache/carts" in the application-data folder.
*/
#ifndef QUILLMAR_API_API_REMOTE_H
#define QUILLMAR_API_API_REMOTE_H

#include <stddef.h>

#include "gurl.h"

struct lua_State;

/* Cached cartridges shorter than this, or without "PNG" at bytes 1-3, are
   not written. */
inline constexpr uint64_t CART_CACHE_MIN_BYTES = 512;

/*
** The cache name of a cartridge URL, into 'out' ('size' bytes): for the
** cartridge host, the rest of the URL after its prefix up to the first '?'
** or '#'; for the forum, the text after its prefix up to the first '#',
** followed by ".kiv.png". False (and 'out' empty) for any other URL and for
** a name that is not one plain name (empty, ".", "..", or holding '/', '\'
** or a NUL) or does not fit.
*/
bool cart_cache_name(const char *url, size_t url_len, char *out, size_t size);

/* The fetch callback: caches a finished cartridge download (see above) in
   the folder named by the job's extra text, which _fetch_remote sets to
   "cache/carts" in the application-data folder. */
extern "C" void gurl_cb(gurl_job_rec *job);

int lua54_fetch_remote(lua_State *L);
int lua54_fetch_remote_result(lua_State *L);

#endif

/*
** Reads, writes, copies and fills of a process's 16 MB paged address space.
** Only the low 24 bits of an address count, so addresses wrap at 16 MB and a
** multi-byte value at 0xFFFFFF goes on at 0x000000. Values are little-endian.
** Every access, read or write, makes the process's own zeroed page on first
** touch; every write sets its page's flags to 255.
** The plain forms act on the current process and do nothing (reading 0)
** when there is none; the _proc forms take the record.
*/
#ifndef QUILLMAR_RUNTIME_ADDRESS_SPACE_H
#define QUILLMAR_RUNTIME_ADDRESS_SPACE_H

#include <stdint.h>

#include "process.h"

/* ---- single values ---- */
uint8_t peek(uint32_t a);
int16_t peek2(uint32_t a);
int32_t peek4(uint32_t a);
int64_t peek8(uint32_t a);

void poke(uint32_t a, int64_t v);   /* low 8 bits of v */
void poke2(uint32_t a, int64_t v);  /* low 16 bits */
void poke4(uint32_t a, int64_t v);  /* low 32 bits */
void poke8(uint32_t a, int64_t v);

/* As above on rec's space; reads give 0 for a null rec, writes ignore it. */
uint8_t peek_proc(process_rec *rec, uint32_t a);
int16_t peek2_proc(process_rec *rec, uint32_t a);
int32_t peek4_proc(process_rec *rec, uint32_t a);
int64_t peek8_proc(process_rec *rec, uint32_t a);
void poke_proc(process_rec *rec, uint32_t a, int64_t v);
void poke2_proc(process_rec *rec, uint32_t a, int64_t v);
void poke4_proc(process_rec *rec, uint32_t a, int64_t v);
void poke8_proc(process_rec *rec, uint32_t a, int64_t v);

/* ---- bulk ---- */

/* Copies 'len' bytes (0..0x1000000) from src to dst in the current process,
   as memmove would, and returns the cycle cost: per segment chunk / 128 + 1,
   or len / 8 when the ranges overlap (also by wrapping past 0xFFFFFF). */
uint32_t kiv_memcpy(uint32_t dst, uint32_t src, int32_t len);

/* Fills 'len' bytes at a with the low 8 bits of v; returns the cycle cost
   (per segment chunk / 128 + 1; 0 when len < 1). */
uint32_t kiv_memset(uint32_t a, int32_t v, int32_t len);

/* Copies the host bytes at 'src' into rec's space at a, flagging the pages
   written; no cost. */
void write_bytes_proc(process_rec *rec, uint32_t a, const void *src, uint32_t len);

/* Copies pages from >> 12 up to (not including) to >> 12 from src_rec to
   dst_rec. Each page that exists in the source is read by the access rule
   (its mapped bytes, then its own page or zeros) into the destination's own
   page, which then serves the whole page. Page flags are left alone; the
   destination pages must not be mapped. */
void kiv_pmemcpy_pages(process_rec *src_rec, process_rec *dst_rec, uint32_t from, uint32_t to);

/* ---- mapping ---- */

/* Makes page p of rec serve its first min(len, 4096) bytes from 'data'
   (a typed array's elements); sets the mapped bit and flags 255.
   Nothing for p outside 0..4095 or len < 1. */
void map_page(process_rec *rec, int32_t p, uint8_t *data, int32_t len);

/* Undoes map_page: the page is served by its own page again (page_len 0),
   the mapped bit is cleared and the flags set to 255. */
void unmap_page(process_rec *rec, int32_t p);

/* ---- pages ---- */

/* The own page p of rec, made zeroed (and counted) when missing. */
uint8_t *own_page(process_rec *rec, uint32_t p);

/* Frees every own page of rec (mapped bytes belong to their arrays). */
void free_own_pages(process_rec *rec);

/* Points the scripting core's peek operators at the current process. */
void install_peek_hooks(void);

#endif

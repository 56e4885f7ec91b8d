/*
** Binary delta: a destination byte string as literal runs and copies from a
** source byte string, guarded by CRC-32s of both and compressed as one LZ4
** block. C linkage.
**
** Container: "dst" NUL, u32 stream length, the LZ4 block. Stream: u32
** destination length, u32 CRC-32 of the source, u32 CRC-32 of the
** destination, then pairs of a literal (length, bytes) and a copy (length,
** u32 source position), the copy left out after the literal that ends the
** destination. A length is one byte below 255, else 255 and a u32. All
** integers little-endian.
*/
#ifndef QUILLMAR_FORMATS_DELTA_H
#define QUILLMAR_FORMATS_DELTA_H

#include <stdint.h>

#include "buffer.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Logged (marker 1 for a container, 0 for a bare stream) when the source's
   CRC-32 is not the one the delta was made from. */
#define DELTA_FAILED_SRC_MESSAGE "** apply_delta: failed src crc (dst marker: %d)\n"

/* Logged when the rebuilt destination is not the one the delta describes:
   a damaged stream, a result longer or shorter than declared, or a CRC-32
   mismatch. */
#define DELTA_FAILED_DST_MESSAGE "** apply_delta: failed dst crc (dst marker: %d)\n"

/* A new buffer (tag 'i') holding the delta container that turns 'src' into
   'dst'; the caller destroys it. Null when the stream passes what one LZ4
   block can hold or an allocation fails. Lengths below 0 count as 0. Uses
   the process-wide match index: main thread only. */
buffer_rec *generate_diff(const uint8_t *src, int64_t src_len, const uint8_t *dst, int64_t dst_len);

/* A new buffer (tag 'i') holding the destination rebuilt from 'src' and the
   'delta_len' bytes of 'delta' (a container, or a bare stream when the
   "dst" tag is missing); the caller destroys it. Null when the delta is
   shorter than its head, declares a stream above 255 times its compressed
   bytes, does not decompress, was made from another source, is damaged, or
   rebuilds anything but the declared destination (length and CRC-32). */
buffer_rec *apply_diff(const uint8_t *src, int64_t src_len, const uint8_t *delta, int64_t delta_len);

/* Length of the common prefix of 'a' and 'b', at most min(a_end - a,
   b_end - b); 0 when that limit is not positive. */
int64_t find_match_len(const uint8_t *a, const uint8_t *b, const uint8_t *a_end, const uint8_t *b_end);

/* The match index's candidate for destination position 'd': 0 when fewer
   than 31 bytes remain before 'd_end' or the entry is empty; otherwise
   '*out_position' receives the candidate source position and the result is
   the length of the common prefix of src + position and d. */
int64_t get_hashpos_len(const uint8_t *src, const uint8_t *d, const uint8_t *src_end, const uint8_t *d_end,
                        int32_t *out_position);

#ifdef __cplusplus
}
#endif

#endif

/*
** pxu image coding: the binary record in which pod texts carry 8-bit typed
** arrays, raw or as runs named by move-to-front slots. Works on plain
** element bytes and sizes; making the typed array is the caller's. C linkage.
**
** Record: "pxu" NUL; (dimensions - 1) * 64 + type code; format (0x10
** uncoded, 0x20 coded, plus 0x08 for u32 sizes); width, then height for 2 or
** 3 dimensions, then depth for 3, one byte or a u32 each; then the element
** bytes, or the bit count b and the codes. A legacy record (format's high
** nibble 0) holds u32 width, height and depth from offset 4, the type at 16,
** two dimensions, coded with b at 17.
*/
#ifndef QUILLMAR_FORMATS_PXU_H
#define QUILLMAR_FORMATS_PXU_H

#include <stdint.h>

#include "buffer.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PXU_UNCODED 0x10    /* format: element bytes as they are */
#define PXU_CODED 0x20      /* format: bit count and run codes */
#define PXU_WIDE_SIZES 0x08 /* format flag: sizes are u32 */

#define PXU_MIN_BITS 1 /* bit counts a coded record may carry */
#define PXU_MAX_BITS 6

/* Type and sizes of a pxu record. */
typedef struct pxu_head {
    uint8_t type;    /* element type code, 0..63 (u8 is 3) */
    uint8_t dims;    /* dimension count, 1..4 */
    uint8_t format;  /* reading: PXU_UNCODED, PXU_CODED or another high
                        nibble (no element data); writing: unused */
    uint32_t width;  /* elements per row */
    uint32_t height; /* rows; 1 when the record has no height */
    uint32_t depth;  /* layers; 1 when the record has no depth */
} pxu_head;

/* ---- writing (elements -> record) ---- */

/* Appends a pxu record for the width * height * depth element bytes at
   'elements' to 'out' at its cursor: uncoded when 'bits' is 0, otherwise
   coded with b = bits clamped to PXU_MIN_BITS..PXU_MAX_BITS. One dimension
   with a height above 1 is written as two. Sizes are u32 when any is 256 or
   more. 'head->dims' must be 1..3. Returns the bytes appended, or 0 with
   nothing appended when the buffer refuses to grow. */
int64_t pxu_write(const pxu_head *head, const uint8_t *elements, buffer_rec *out, int bits);

/* ---- reading (record -> elements) ---- */

/* Reads the head of the record at 'p' (its tag first) into '*head'. Returns
   where the body starts (the bit count of a coded record), or null when the
   tag is wrong or the head does not lie wholly before 'end'. */
const uint8_t *pxu_read_head(const uint8_t *p, const uint8_t *end, pxu_head *head);

/* width * height * depth of 'head', UINT64_MAX when that does not fit. */
uint64_t pxu_element_count(const pxu_head *head);

/* Fills the first 'count' bytes at 'elements' (zeroed by the caller) from
   the body at 'p', whose head is 'head'. Runs stop at the count. Returns the
   position after the record: after the code that filled the last element,
   or 'p' itself for an unknown format, which reads nothing. Null when the
   bit count is outside PXU_MIN_BITS..PXU_MAX_BITS or the record does not
   lie wholly before 'end'. */
const uint8_t *pxu_read_body(const pxu_head *head, const uint8_t *p, const uint8_t *end, uint8_t *elements,
                             uint64_t count);

#ifdef __cplusplus
}
#endif

#endif

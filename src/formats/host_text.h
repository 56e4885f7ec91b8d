/*
** Host text conversion: zenscii (one byte per character: ASCII, glyphs, kana
** and superscripts) to UTF-8 for the host, and host Unicode text (UTF-8, or
** UTF-16 or UTF-32 recognised by a byte-order mark) back to zenscii. C
** linkage.
*/
#ifndef QUILLMAR_FORMATS_HOST_TEXT_H
#define QUILLMAR_FORMATS_HOST_TEXT_H

#include "buffer.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new buffer (tag 'i') holding the NUL-terminated zenscii 'text' as UTF-8
   without a byte-order mark; the caller destroys it. Null for a null text
   or a failed allocation. */
buffer_rec *encode_host_text(const char *text);

/* A new buffer (tag 'i') holding the 'length' bytes of 'b' (host text) as
   zenscii, carriage returns dropped; the caller destroys it. UTF-16 and
   UTF-32 texts are first transcoded to UTF-8 (surrogate pairs joined; lone
   surrogates, values above 0x10FFFF and a trailing partial unit dropped).
   Unicode characters without a zenscii code stay as their UTF-8 bytes.
   Null for a null buffer or a failed allocation. */
buffer_rec *decode_host_text(const buffer_rec *b);

#ifdef __cplusplus
}
#endif

#endif

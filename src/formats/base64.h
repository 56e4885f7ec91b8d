/*
** Base64 variant: the text form of binary data inside texts (pod values and
** binary files in text cartridges). Alphabet A-Z a-z 0-9 '_' '-', '=' padding,
** no line breaks; incremental encoder and decoder. C linkage.
*/
#ifndef QUILLMAR_FORMATS_BASE64_H
#define QUILLMAR_FORMATS_BASE64_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What base64_decode_value gives a byte outside the alphabet (all bits set). */
#define BASE64_INVALID (-1)

/* Where an encoder or decoder stands inside a group. */
typedef enum base64_step {
    BASE64_STEP_A, /* first byte (encoding) or first character (decoding) */
    BASE64_STEP_B,
    BASE64_STEP_C,
    BASE64_STEP_D  /* fourth character (decoding only) */
} base64_step;

/* Encoder state between calls; start it with base64_init_encodestate. */
typedef struct base64_encodestate {
    base64_step step; /* byte of the group expected next: A, B or C */
    uint8_t result;   /* partial 6-bit value carried to the next character */
    int32_t count;    /* groups of three bytes so far, wrapping at 18; no output */
} base64_encodestate;

/* Decoder state between calls; start it with base64_init_decodestate. */
typedef struct base64_decodestate {
    base64_step step;   /* character of the group expected next: A to D */
    uint8_t plainchar;  /* high bits of the byte being completed */
} base64_decodestate;

/* ---- encoding (bytes -> text) ---- */

void base64_init_encodestate(base64_encodestate *state);

/* The alphabet character of a 6-bit 'value'; '=' for values outside 0..63. */
char base64_encode_value(int value);

/* Encodes all 'length' bytes of 'in' into 'out', leaving up to two bytes'
   worth pending in 'state'. Returns the number of characters written, which
   is at most 4 * ((length + 2) / 3); a length below 1 writes nothing. */
int64_t base64_encode_block(const uint8_t *in, int64_t length, char *out,
                            base64_encodestate *state);

/* Writes what is pending: one character and "==" after one leftover byte,
   one character and "=" after two, nothing otherwise. Writes no NUL. Returns
   the count (3, 2 or 0); 'state' is back at the start of a group. */
int64_t base64_encode_blockend(char *out, base64_encodestate *state);

/* ---- decoding (text -> bytes) ---- */

void base64_init_decodestate(base64_decodestate *state);

/* The value 0..63 of an alphabet character, else BASE64_INVALID. */
int base64_decode_value(char c);

/* Decodes 'length' characters of 'in' into 'out', skipping every character
   outside the alphabet ('=', spaces, line breaks, '+', '/'). A byte is
   written as soon as its 8 bits are complete; a partial group is kept in
   'state' for the next call. Returns the number of bytes written, at most
   (3 * length + 3) / 4; a length below 1 writes nothing. */
int64_t base64_decode_block(const char *in, int64_t length, uint8_t *out,
                            base64_decodestate *state);

#ifdef __cplusplus
}
#endif

#endif

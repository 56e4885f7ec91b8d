/*
** pxa decompressor: restores the program text of old cartridges, a bit
** stream of move-to-front literals and back-references into the output.
*/
#pragma once

#include <cstddef>
#include <cstdint>

// The zero byte, "pxa", the raw length and the compressed length.
inline constexpr size_t PXA_HEADER_SIZE = 8;

// Fields of one back-reference length at most (each adds up to 7).
inline constexpr int PXA_MAX_LENGTH_FIELDS = 33333;

enum pxa_result {
    PXA_OK = 0,         /* decoded to the raw length, the capacity or the stream's end */
    PXA_MALFORMED = 1,  /* the stream broke a rule; the output holds what came before */
};

// Decompresses the pxa stream 'in' of 'in_len' bytes (its first four bytes,
// the zero byte and "pxa", are the caller's to test) into 'out', which must
// have room for 'capacity' + 1 bytes. Writes at most 'capacity' bytes and
// always leaves the output zero-terminated; the caller takes the text up to
// its first zero byte. A compressed length below 9, a raw length of 0 or a
// capacity below 1 produce nothing. Returns PXA_MALFORMED when the stream
// ends before the input does, is shorter than its header, names a table
// index above 255, refers back before the start of the output, or would copy
// or run past 'capacity'; PXA_OK otherwise.
int pxa_decompress(const uint8_t *in, size_t in_len, uint8_t *out, int capacity);

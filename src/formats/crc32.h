/*
** CRC-32: the reflected CRC with polynomial 0xEDB88320, initial value
** 0xFFFFFFFF and a final complement (as zlib's). C linkage.
*/
#ifndef QUILLMAR_FORMATS_CRC32_H
#define QUILLMAR_FORMATS_CRC32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The CRC-32 of the 'n' bytes at 'bytes'; 0 when n < 1 (also the CRC of no
   bytes). "123456789" gives 0xCBF43926. */
uint32_t crc32b(const uint8_t *bytes, int64_t n);

#ifdef __cplusplus
}
#endif

#endif

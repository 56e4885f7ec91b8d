/*
** A number's text as the core writes it: "%.14g" for a float, "%lld" for an
** integer. C linkage: called from the Lua core.
*/
#ifndef QUILLMAR_NUMBER_TEXT_H
#define QUILLMAR_NUMBER_TEXT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the text of 'n' into 'buf' (of 'size' bytes, at least 32),
   NUL-terminated; returns its length. */
int vm_float_text(char *buf, size_t size, double n);
int vm_integer_text(char *buf, size_t size, long long n);

#ifdef __cplusplus
}
#endif

#endif

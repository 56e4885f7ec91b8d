/*
** The language's text of a float: what "%.14g" prints, from the shortest
** round-trip digits where they settle the rounding, else from the exact
** formatting.
*/
#ifndef QUILLMAR_FORMATS_FLOAT_TEXT_H
#define QUILLMAR_FORMATS_FLOAT_TEXT_H

#include <cstddef>

/* Writes the "%.14g" text of 'v' (not a NaN) to 'buf', which has room for
   'size' bytes (32 are always enough); returns its length. */
int float_text(char *buf, size_t size, double v);

#endif

// The QOI picture coder, compiled once for the whole program.
#define QOI_NO_STDIO
#define QOI_IMPLEMENTATION
#include <qoi.h>

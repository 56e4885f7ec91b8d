// The QOI image coder, compiled once for the whole program.
#include <cstdlib>
#include <cstring>

#define QOI_IMPLEMENTATION
#include <qoi.h>

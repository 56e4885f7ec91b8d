/*
** The token states of `tokenoid`, shared with its tests and fuzz target.
*/
#ifndef QUILLMAR_API_API_TOKENOID_H
#define QUILLMAR_API_API_TOKENOID_H

#include <stdint.h>

inline constexpr int64_t TOKENOID_OPEN_MASK = 0xF00;    /* a state is open when these bits are set */
inline constexpr int64_t TOKENOID_LONG_COMMENT = 0x300; /* + level: inside a long comment */
inline constexpr int64_t TOKENOID_LONG_STRING = 0x400;  /* + level: inside a long string */
inline constexpr size_t TOKENOID_MAX_LEVEL = 60;        /* '=' signs of a long bracket at most */

#endif

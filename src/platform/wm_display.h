/*
** Process 3's display and video registers, read as video out reads them:
** mapped bytes, then the own page, else zeros. Nothing is created and
** nothing is charged, so the readers are safe at the end of a frame.
*/
#pragma once

#include <cstdint>

#include "process.h"

inline constexpr uint32_t VIDEO_MODE_ADDR = 0x547C;  /* 3 and 4 are the low-resolution modes */
inline constexpr uint32_t ROW_BANKS_ADDR = 0x5400;   /* 2 bits a display row */
inline constexpr int DISPLAY_W = 480;
inline constexpr int DISPLAY_H = 270;
inline constexpr int DISPLAY_BYTES = DISPLAY_W * DISPLAY_H;  /* 129600 */

/* The byte at 'a' of 'rec' by the access rule, without making a page. */
uint8_t wm_peek(const process_rec *rec, uint32_t a);

/* The region-scaling factor of video mode 'mode': 2 for 3, 3 for 4, else 1. */
int32_t video_mode_factor(uint8_t mode);

/* video_mode_factor of process 3's mode register; 1 without process 3. */
int32_t wm_video_factor();

/* Copies rec's 129600 display bytes into 'out'. */
void wm_read_display(const process_rec *rec, uint8_t *out);

/* The bank (0-3) of each of the 270 display rows, from rec's registers. */
void wm_read_row_banks(const process_rec *rec, uint32_t *banks);

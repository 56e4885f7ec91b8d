/*
** The pieces of the boot screen: its private record and bitmap, the easing
** curve and the growing boot lines.
*/
#pragma once

#include <cstdint>

#include "process.h"

struct typed_ud_rec;

inline constexpr int BOOT_W = 480;
inline constexpr int BOOT_H = 270;

/* The boot screen's 64 RGB colours, 0x00RRGGBB; entries 32-63 are 0. */
extern const uint32_t boot_palette[64];

/* The record and bitmap the boot screen draws with; null before the first
   draw_boot. */
process_rec *boot_screen_proc(void);
typed_ud_rec *boot_screen_back(void);

/* Builds the record and the bitmap once; false when memory ran out. */
bool init_boot(void);

/* The easing curve: 2t^2 up to 0.5, 1 - 2(1-t)^2 above, t clamped to 0..1. */
double nll(double t);

/*
** One boot line from (xa, ya) to (xb, yb), end point excluded, in 16.16
** steps into a 480 x 270 byte image; colours cycle by 32-pixel block, phase
** and step. Points outside the image are skipped.
*/
void cline(uint8_t *pixels, int32_t xa, int32_t ya, int32_t xb, int32_t yb, int32_t phase);

/* The part between fractions t0 and t1 of the path P0-P1-P2 (P0-P1 covers
   0 to 0.5), as boot lines with the given phase. */
void draw_path(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t phase,
               uint8_t *pixels, double t0, double t1);

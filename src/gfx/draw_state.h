/*
** The draw-state register page (0x5000-0x5FFF of every process), the mask
** globals, the clip rectangle, and the pixel pipeline every primitive shares:
** single pixels and horizontal spans through the colour tables. C linkage.
**
** Bitmaps are typed arrays read as width x height bytes whatever their
** element type. Every primitive clips to the running process's clip
** rectangle intersected with the target's current size, so no caller can make
** it write outside the array.
*/
#ifndef QUILLMAR_GFX_DRAW_STATE_H
#define QUILLMAR_GFX_DRAW_STATE_H

#include <stdint.h>

#include "process.h"

struct typed_ud_rec;

/* ---- the register page (addresses in a process's own space) ---- */
inline constexpr uint32_t REG_RGB_PALETTE = 0x5000;    /* 256 x u32 0x00RRGGBB, four banks of 64 */
inline constexpr uint32_t REG_ROW_BANKS = 0x5400;      /* 68 bytes, 2 bits a display row */
inline constexpr uint32_t REG_DISPLAY_WIDTH = 0x5478;  /* i16 */
inline constexpr uint32_t REG_DISPLAY_HEIGHT = 0x547A; /* i16 */
inline constexpr uint32_t REG_VIDEO_MODE = 0x547C;     /* u8: 3 and 4 are the scaled modes */
inline constexpr uint32_t REG_VIDEO_MASK = 0x547D;     /* u8: mask for copies of this display */
inline constexpr uint32_t REG_PROCESS_FLAGS = 0x547F;  /* u8: bit 1 = no new frame */
inline constexpr uint32_t REG_SCREEN_PALETTE = 0x5480; /* 64 bytes */
inline constexpr uint32_t REG_CURSOR_X = 0x54F0;       /* i32 */
inline constexpr uint32_t REG_CURSOR_Y = 0x54F4;       /* i32 */
inline constexpr uint32_t REG_HOME_X = 0x54F8;         /* i32 */
inline constexpr uint32_t REG_FILL_PATTERN = 0x5500;   /* 8 rows; bit x & 7 of row y & 7 */
inline constexpr uint32_t REG_READ_MASK = 0x5508;      /* u8 */
inline constexpr uint32_t REG_WRITE_MASK = 0x5509;     /* u8 */
inline constexpr uint32_t REG_SPRITE_TARGET_MASK =
    0x550A; /* u8: sprites, map cells, textured lines */
inline constexpr uint32_t REG_SHAPE_TARGET_MASK = 0x550B; /* u8: shapes */
inline constexpr uint32_t REG_PEN =
    0x550C; /* u16, read as i16: low byte colour, high byte pattern colour */
inline constexpr uint32_t REG_MAP_CELL_W = 0x550E;     /* u8, 0 means 256 */
inline constexpr uint32_t REG_MAP_CELL_H = 0x550F;     /* u8, 0 means 256 */
inline constexpr uint32_t REG_CAMERA_X = 0x5510;       /* i32 */
inline constexpr uint32_t REG_CAMERA_Y = 0x5514;       /* i32 */
inline constexpr uint32_t REG_LINE_STATE = 0x551F;     /* u8: 1 = no start point */
inline constexpr uint32_t REG_LINE_X = 0x5520;         /* i32 */
inline constexpr uint32_t REG_LINE_Y = 0x5524;         /* i32 */
inline constexpr uint32_t REG_CLIP_X0 = 0x5528;        /* i16 */
inline constexpr uint32_t REG_CLIP_Y0 = 0x552A;        /* i16 */
inline constexpr uint32_t REG_CLIP_X1 = 0x552C;        /* i16, exclusive */
inline constexpr uint32_t REG_CLIP_Y1 = 0x552E;        /* i16, exclusive */
inline constexpr uint32_t REG_TLINE_OFFSET_X = 0x5530; /* i16 */
inline constexpr uint32_t REG_TLINE_OFFSET_Y = 0x5532; /* i16 */
inline constexpr uint32_t REG_TLINE_WRAP_W = 0x5534;   /* u16, a power of two; 0 = no wrap */
inline constexpr uint32_t REG_TLINE_WRAP_H = 0x5536;   /* u16 */
inline constexpr uint32_t REG_CHANNEL_VOLUME = 0x5538; /* u8 */
inline constexpr uint32_t REG_MUSIC_VOLUME = 0x5539;   /* u8 */
inline constexpr uint32_t REG_MIX_VOLUME = 0x553A;     /* u8 */
inline constexpr uint32_t REG_AUDIO_BASE = 0x553C;     /* u8, 64 KB units */
inline constexpr uint32_t REG_MUSIC_BASE = 0x553D;     /* u8, 64 KB units */
inline constexpr uint32_t REG_BUTTONS = 0x5580;        /* u8[8][16] */
inline constexpr uint32_t REG_SECOND_FONT = 0x5600;    /* 2048 bytes */
inline constexpr uint32_t REG_MOUSE_EVENT_SENS = 0x5F28;
inline constexpr uint32_t REG_MOUSE_MOVE_SENS = 0x5F29;
inline constexpr uint32_t REG_MOUSE_LOCK = 0x5F2D;
inline constexpr uint32_t REG_PRINT_FLAGS = 0x5F36;  /* u8; bit 3 also draws map cell 0 */
inline constexpr uint32_t REG_DEFAULT_FONT = 0x5F56; /* u8: page nibble, block nibble */
inline constexpr uint32_t REG_ALT_FONT = 0x5F57;     /* u8 */
inline constexpr uint32_t REG_PRINT_ATTRIBUTES = 0x5F58;
inline constexpr uint32_t REG_CHAR_SIZE = 0x5F59; /* width low nibble, height high nibble */
inline constexpr uint32_t REG_WIDE_AND_TAB = 0x5F5A;
inline constexpr uint32_t REG_GLYPH_OFFSETS = 0x5F5B;
inline constexpr uint32_t REG_BUTTON_DELAY = 0x5F5C;    /* frames; 0 means 30, 255 no repeat */
inline constexpr uint32_t REG_BUTTON_INTERVAL = 0x5F5D; /* frames; 0 means 8, 255 no repeat */

inline constexpr int COLTAB_COUNT = 4;      /* tables 0-3 at 0x8000, 0x9000, 0xA000, 0xB000 */
inline constexpr int COLTAB_BYTES = 4096;   /* entry [s * 64 + d] */
inline constexpr int COLTAB_FIRST_PAGE = 8; /* page of table 0 */

static_assert(REG_RGB_PALETTE == DRAW_STATE_ADDR, "the RGB palette opens the register page");
static_assert(REG_PROCESS_FLAGS == PROCESS_FLAGS_ADDR, "one address for the process flags");
static_assert(REG_MOUSE_LOCK == MOUSE_LOCK_ADDR && REG_MOUSE_EVENT_SENS == MOUSE_EVENT_SENS_ADDR &&
                  REG_MOUSE_MOVE_SENS == MOUSE_MOVE_SENS_ADDR,
              "one address for each mouse register");
static_assert(REG_BUTTON_INTERVAL < DRAW_STATE_ADDR + PAGE_BYTES, "registers lie in one page");
static_assert(COLTAB_FIRST_PAGE * PAGE_BYTES == COLOUR_TABLES_ADDR,
              "colour tables start at page 8");
static_assert(REG_CLIP_Y1 + 2 == REG_CLIP_X0 + 8, "the eight clip bytes are contiguous");

#ifdef __cplusplus
extern "C" {
#endif

/* ---- mask globals: one byte each, loaded from the registers by every primitive ---- */
extern uint32_t read_mask;
extern uint32_t write_mask;
extern uint32_t target_mask;

/* Loads the shape masks of the running process: read 0x5508, write 0x5509,
   target 0x550B. */
void get_masks_shape(void);

/* Loads the sprite masks of the running process: read 0x5508, write 0x5509,
   target 0x550A. */
void get_masks_sprite(void);

/*
** Rebuilds rec's clip rectangle from its clip registers when the eight bytes
** at 0x5528, the draw target, or the target's width and height changed since
** the last build: x0 = the i16 at 0x5528 when above 0, else 0; y0 likewise;
** x1 = the unsigned minimum of the target width and the sign-extended i16 at
** 0x552C; y1 likewise with the height. No target counts as 0 x 0.
*/
void refresh_clip(process_rec *rec);

/* One pixel by the shape rule with the loaded masks, when inside the clip;
   no cost. A null target or no running process draws nothing. */
void putpixel(struct typed_ud_rec *target, int32_t x, int32_t y, int32_t colour);

/* The same without the clip test; the caller guarantees 0 <= x < width and
   0 <= y < height. */
void putpixel_noclip(struct typed_ud_rec *target, int32_t x, int32_t y, int32_t colour);

/* One pixel by the sprite rule with the loaded masks, no clip test; returns
   the byte written. */
uint8_t put_texture_pixel_noclip(struct typed_ud_rec *target, int32_t x, int32_t y, int32_t colour);

/* The byte at (x, y); 0 for a null bitmap or a point outside it. */
uint8_t getpixel(const struct typed_ud_rec *bitmap, int32_t x, int32_t y);

/* Fills the inclusive span x0..x1 of row y by the shape rule, clipped;
   loads the shape masks; returns the cost. A span whose clipped start lies
   right of its clipped end draws nothing and costs 0. */
int32_t draw_hline(struct typed_ud_rec *target, int32_t x0, int32_t x1, int32_t y, int32_t colour);

/* Fills row y outside the span: clip x0 - 1 .. min(x0, x1) - 1 and
   max(x0, x1) + 1 .. clip x1 + 1, clipped; returns the summed cost. */
int32_t draw_hline_inv(struct typed_ud_rec *target, int32_t x0, int32_t x1, int32_t y,
                       int32_t colour);

/* Test switch: non-zero forces the plain per-pixel and per-byte paths of
   every primitive (the results must not differ). */
extern int gfx_force_plain_paths;

/* Test switch: non-zero keeps the vector paths to 256-bit instructions on a
   processor that has wider ones. */
extern int gfx_narrow_vectors;

#ifdef __cplusplus
}
#endif

#endif

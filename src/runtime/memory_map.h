/*
** The fixed layout of a process's 16 MB address space: page geometry and the
** regions the host itself writes or reads.
*/
#ifndef QUILLMAR_RUNTIME_MEMORY_MAP_H
#define QUILLMAR_RUNTIME_MEMORY_MAP_H

#include <stdint.h>

/* ---- page geometry ---- */
inline constexpr uint32_t ADDRESS_SPACE_BYTES = 0x1000000;       /* 16 MB per process */
inline constexpr uint32_t ADDRESS_MASK = ADDRESS_SPACE_BYTES - 1; /* only the low 24 bits count */
inline constexpr int PAGE_SHIFT = 12;
inline constexpr int PAGE_BYTES = 1 << PAGE_SHIFT;                /* 4 KB pages */
inline constexpr int NUM_PAGES = ADDRESS_SPACE_BYTES / PAGE_BYTES; /* 4096 */
inline constexpr int FIRST_PAGES = 16;      /* pages 0-15 exist from creation (0x0000-0xFFFF) */

/* ---- page flag bits ---- */
inline constexpr uint8_t PAGE_WRITTEN = 255;      /* every write sets all bits */
inline constexpr uint8_t PAGE_FLAG_COLTAB = 2;    /* colour-table page no longer the default */

/* ---- regions ---- */
inline constexpr uint32_t DEFAULT_FONT_ADDR = 0x4000;      /* 2 KB default font */
inline constexpr uint32_t DRAW_STATE_ADDR = 0x5000;        /* the register page */
inline constexpr uint32_t PROCESS_FLAGS_ADDR = 0x547F;     /* bit 0: incremental collector */
inline constexpr uint32_t COLOUR_TABLES_ADDR = 0x8000;     /* four 4 KB colour tables */
inline constexpr uint32_t COLOUR_TABLES_BYTES = 0x4000;
inline constexpr uint32_t SPRITE_FLAGS_ADDR = 0xC000;      /* one byte per sprite index */
inline constexpr uint32_t DISPLAY_ADDR = 0x10000;          /* one byte per pixel */
inline constexpr uint32_t AUDIO_BASE_ADDR = 0x30000;       /* default audio base */
inline constexpr uint32_t INSTRUMENT0_ADDR = 0x40000;      /* the default instrument 0 */
inline constexpr uint32_t WAVETABLE_DESC_ADDR = 0x401E0;   /* descriptors 0 and 1, 4 bytes each */
inline constexpr uint32_t MAP_CELLS_ADDR = 0x100000;
inline constexpr uint32_t WAVETABLES_ADDR = 0xF78000;      /* noise, then 256 waves */
inline constexpr uint32_t WAVETABLES_BYTES = 0x88000;

/* ---- registers of process 3 read once per frame for the host mouse ---- */
inline constexpr uint32_t MOUSE_LOCK_ADDR = 0x5F2D;
inline constexpr uint32_t MOUSE_EVENT_SENS_ADDR = 0x5F28;
inline constexpr uint32_t MOUSE_MOVE_SENS_ADDR = 0x5F29;

static_assert(NUM_PAGES == 4096, "page table size");
static_assert(FIRST_PAGES * PAGE_BYTES == 0x10000, "first pages cover 0x0000-0xFFFF");
static_assert(COLOUR_TABLES_ADDR % PAGE_BYTES == 0 && COLOUR_TABLES_BYTES == 4 * PAGE_BYTES,
              "colour tables are pages 8 to 11");
static_assert(COLOUR_TABLES_ADDR + COLOUR_TABLES_BYTES <= FIRST_PAGES * PAGE_BYTES,
              "colour tables lie in the first pages");
static_assert(PROCESS_FLAGS_ADDR >> PAGE_SHIFT == DRAW_STATE_ADDR >> PAGE_SHIFT,
              "process flags live in the register page");
static_assert(WAVETABLES_ADDR + WAVETABLES_BYTES == ADDRESS_SPACE_BYTES,
              "wavetables end the address space");
static_assert(WAVETABLES_ADDR % PAGE_BYTES == 0 && WAVETABLES_BYTES % PAGE_BYTES == 0,
              "wavetables are whole pages");
static_assert(WAVETABLE_DESC_ADDR >> PAGE_SHIFT == INSTRUMENT0_ADDR >> PAGE_SHIFT,
              "the default instrument and its descriptors share one page");

#endif

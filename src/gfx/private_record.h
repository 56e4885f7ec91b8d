/*
** Process records the host draws with itself and never runs (the boot screen,
** the cartridge label): their registers, colour table and font.
*/
#pragma once

#include <cstdint>

#include "process.h"

struct typed_ud_rec;

/*
** Sets up the zeroed 'rec' to draw into 'back' (a u8 bitmap of w x h, its
** bytes mapped as the display from 0x10000): clip 0..w x 0..h; sixteen own
** zeroed pages at 0x0000-0xFFFF; screen palette 0..63; colour table 0 with
** every row r all r (a drawn colour replaces the pixel); masks 0x3F; font
** registers 0x40 and 0x56 with our font at 0x4000; 'rgb' (64 colours) at
** 0x5000.
*/
void setup_private_record(process_rec *rec, typed_ud_rec *back, const uint32_t *rgb);

/* A u8 bitmap of w x h, zeroed, in one allocation; null when memory ran out.
   Freed with free(). */
typed_ud_rec *new_private_bitmap(uint32_t w, uint32_t h);

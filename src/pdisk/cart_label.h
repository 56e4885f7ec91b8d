/*
** The image cartridge's label text, rendered by the graphics layer above the
** file system: the title and byline of a cartridge's .info.pod text printed
** into a small bitmap. C linkage; the graphics library defines it.
*/
#pragma once

#include <cstddef>
#include <cstdint>

/* Size of the label text bitmap: title in rows 0-9, byline in rows 10-19. */
inline constexpr int LABEL_TEXT_W = 178;
inline constexpr int LABEL_TEXT_H = 20;

extern "C" {

/*
** Renders the title and byline found in the .info.pod text of 'len' bytes at
** 'text' into 'pixels' (LABEL_TEXT_W x LABEL_TEXT_H bytes, row-major, non-zero
** where a text pixel is set). Returns 1 when rendered, 0 when nothing could be
** (no renderer in this program). Touches no file, calls no script.
*/
int extract_label_text(const uint8_t *text, size_t len, uint8_t *pixels);
}

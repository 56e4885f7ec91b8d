/*
** The boot screen and its clock as video out and start-up call them.
** C linkage.
*/
#ifndef QUILLMAR_GFX_BOOT_SCREEN_H
#define QUILLMAR_GFX_BOOT_SCREEN_H

#include <stdint.h>

#include "process.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Draws the boot screen for the current frame and returns the private
   record whose display shows it (never one of the process table); the
   caller's cproc is in place again on return. */
process_rec *draw_boot(void);

/* Restarts the boot clock's start marker; every (re)boot. */
void boot_init(void);

/* Boot time in milliseconds, saturating at 0x7FFFFFFF. */
uint32_t boot_get_time(void);

#ifdef __cplusplus
}
#endif

#endif

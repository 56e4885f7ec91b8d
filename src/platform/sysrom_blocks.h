/*
** The blocks of sysrom.dat: export name, system ROM, expansion cartridge.
** C linkage.
*/
#ifndef QUILLMAR_PLATFORM_SYSROM_BLOCKS_H
#define QUILLMAR_PLATFORM_SYSROM_BLOCKS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct buffer_rec;

/* Slots of the block table; further blocks are logged and ignored. */
#define SYSROM_MAX_BLOCKS 64

/* Longest block payload; a length above it ends the list. */
#define SYSROM_MAX_BLOCK_LENGTH 0x2000000u

/* Logged once when the data holds more blocks than the table. */
#define SYSROM_TOO_MANY_BLOCKS_MESSAGE "** sysrom.dat: more than 64 blocks, the rest ignored\n"

/*
** Splits 'size' bytes at 'bytes' into blocks, each a u32 big-endian length
** and that many payload bytes, and stores a new buffer per block in
** out[0..max) (tag 'i', capacity length + 8, cursor 0). Reading stops at the
** first of: fewer than 4 bytes left; a length above SYSROM_MAX_BLOCK_LENGTH;
** a payload cut short by the end (that block is kept as an empty buffer);
** 'max' blocks stored while another block follows (logged). Returns the
** number of blocks stored. 'max' is clamped to 0..SYSROM_MAX_BLOCKS.
*/
int sysrom_split_blocks(const uint8_t *bytes, size_t size, struct buffer_rec **out, int max);

/* The blocks of the run: read once at start, kept across reboots. */
extern struct buffer_rec *dat_file[SYSROM_MAX_BLOCKS];
extern int dat_files; /* blocks in dat_file, 0..SYSROM_MAX_BLOCKS */

/*
** Reads the host file 'path' into dat_file, replacing any blocks held.
** A file that does not open leaves the table empty and is not reported
** here. Returns dat_files.
*/
int load_dat_files(const char *path);

/* Frees every block and empties the table. */
void free_dat_files(void);

/* Block n with its cursor set back to 0, or null when n < 0 or n >= dat_files. */
struct buffer_rec *get_dat_file(int n);

#ifdef __cplusplus
}
#endif

#endif

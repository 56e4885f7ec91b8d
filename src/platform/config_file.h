/*
** quillmar_config.txt: the host's configuration file, made of mount lines.
** C linkage.
*/
#ifndef QUILLMAR_PLATFORM_CONFIG_FILE_H
#define QUILLMAR_PLATFORM_CONFIG_FILE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Name of the file in the application-data folder. */
#define CONFIG_FILE_NAME "quillmar_config.txt"

/* Longest virtual path of a mount line; a longer one skips the line. */
#define CONFIG_MOUNT_PATH_MAX 255

/* Logged for a mount line whose virtual path is too long. */
#define CONFIG_MOUNT_TOO_LONG_MESSAGE "** mount line ignored: virtual path too long\n"

/* Adds a host mount; mount_host_path has this shape. */
typedef int (*config_mount_fn)(const char *mount_point, const char *host_folder);

/*
** Applies the mount lines of the 'length' bytes at 'text', in order. A line
** (ended by LF or CRLF) counts when it begins with "mount ": the virtual
** path runs from there up to the first space, control character or byte of
** 0x80 or more; spaces after it are skipped; the host path is the rest of
** the line up to a NUL or CR, inner and trailing spaces kept. Each mount is
** logged as "mount: [%s] [%s]\n" and handed to 'mount'. A virtual path of
** more than CONFIG_MOUNT_PATH_MAX characters skips the line (logged).
** Returns the number of mounts handed on.
*/
int config_apply_mount_lines(const char *text, size_t length, config_mount_fn mount);

/*
** Writes the default content for the application-data folder path
** 'appdata' (ending in '/') into 'out' ('size' bytes): "# quillmar config",
** an empty line and "mount / " + appdata + "drive", each ended by LF.
** Returns the length, or -1 when it does not fit (then 'out' is empty).
*/
int config_default_text(const char *appdata, char *out, size_t size);

/*
** Creates the configuration file when it cannot be read and mounts its
** lines: makes the folder "drive" in the application-data folder, writes
** the default content when the file does not open for reading (logged as
** "writing default config to %s\n"; a file that cannot be written prints
** "ERROR: could not write to %s\n" and ends the program with status 1),
** then applies its mount lines through 'mount'. Returns the mounts made.
*/
int process_config_with(config_mount_fn mount);

/* process_config_with the file system's mount_host_path; called at every
   (re)boot after "/ram" is mounted and before the root process exists. */
void process_config(void);

#ifdef __cplusplus
}
#endif

#endif

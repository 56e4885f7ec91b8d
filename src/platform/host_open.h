/*
** Opening host files, folders and web addresses with the desktop's default
** application (xdg-open), without a shell. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_HOST_OPEN_H
#define QUILLMAR_PLATFORM_HOST_OPEN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The program that opens a path or address, looked up on PATH. */
#define HOST_OPEN_PROGRAM "xdg-open"

/* Encoding stops once the address text reaches this many characters. */
#define HOST_URL_STOP_OFFSET 10

/*
** Writes the web address 'url' percent-encoded into 'out' ('size' bytes,
** at least 16): letters, digits and - . / & : = ? _ are copied, every other
** byte becomes '%' and two lower-case hex digits. Bytes are taken while the
** text is shorter than size - HOST_URL_STOP_OFFSET, so the text always ends
** in a whole escape and a NUL within 'out'. Returns 'out'.
*/
char *create_osx_launch_html_string(const char *url, char *out, size_t size);

/*
** Opens 'path' with HOST_OPEN_PROGRAM as its one argument: an address
** beginning with "http:" or "https:" percent-encoded as above, anything
** else unchanged. The child is reaped by reap_host_openers. A spawn that
** fails logs "** could not open %s\n". In full-screen mode the window
** is then minimised. Returns 0 when the child started,
** else -1.
*/
int open_host_file(const char *path);

/* Minimises the host window (open_host_file calls it in full-screen mode,
   so that what was opened can be seen). */
void os_minimise_window(void);

/* Reaps every opener child that has ended, without waiting. Called at the
   end of each frame. Returns the number still running. */
int reap_host_openers(void);

#ifdef __cplusplus
}
#endif

#endif

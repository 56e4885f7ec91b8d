/*
** Host paths: the program's folder, the application-data folder, the
** desktop, and folder creation. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_HOST_PATHS_H
#define QUILLMAR_PLATFORM_HOST_PATHS_H

#include "host.h"  /* HOST_PATH_SIZE, codo_prefix_with_appdata_path, codo_mkdir */

#ifdef __cplusplus
extern "C" {
#endif

/* Logged when a built path does not fit its buffer. */
#define HOST_PATH_TOO_LONG_MESSAGE "** host path too long\n"

/* The program's argv[0] (at most 1023 characters kept). */
extern char codo_argv0[HOST_PATH_SIZE];

/* Copies 'argv0' (null counts as empty) into codo_argv0. */
void codo_set_argv0(const char *argv0);

/*
** The path builders. Each writes into 'out' (HOST_PATH_SIZE bytes) and
** returns it. A result that does not fit leaves 'out' empty, logs
** HOST_PATH_TOO_LONG_MESSAGE and creates nothing.
*/

/* The program's folder, then 'name'. The folder is codo_argv0 up to and
   including its last '/' or '\' at index 1 or later, that separator written
   as '/'; "/" when there is none; nothing when codo_argv0 is empty. */
char *codo_prefix_with_program_path(const char *name, char *out);

/* The desktop folder, then '/' and 'name': the settings' desktop_path when
   set, else the host's desktop (see codo_build_desktop_path). The folder is
   created with its parents. */
char *codo_prefix_with_desktop_path(const char *name, char *out);

/*
** The application-data builder with its inputs spelled out. 'home_path'
** counts as set when its first byte is neither NUL nor a space: then the
** result is it with every '\' turned into '/', a '/' added when missing, and
** 'name'; nothing is created. Otherwise the folder is
** "${XDG_DATA_HOME:-$HOME/.local/share}/quillmar/" (empty variables count as
** unset; with neither, the empty text) followed by "exp/" and 'export_name'
** plus '/' when 'export_name' is set and not empty, else "shared/"; every
** level of it is created (0755). Returns 0, or -1 when the result does not
** fit (then 'out' is empty, nothing is created and, with 'log' set, the
** failure is logged).
*/
int codo_build_appdata_path(const char *name, char *out, const char *home_path,
                            const char *export_name, int log);

/*
** The desktop builder with its inputs spelled out. 'desktop_path' counts as
** set as for home_path above; else the desktop is $XDG_DESKTOP_DIR, else
** the XDG_DESKTOP_DIR line of ${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs
** with a leading $HOME expanded, else $HOME/Desktop; with none of these
** the result is 'name' alone. The folder is created with its parents.
** Returns 0, or -1 when the result does not fit (logged; 'out' empty).
*/
int codo_build_desktop_path(const char *name, char *out, const char *desktop_path);

/* Creates a host folder and every missing parent (0755). 0 when the folder
   exists afterwards, else -1. */
int codo_mkdir_parents(const char *path);

/* Turns every '\' of 'text' into '/' in place. */
void codo_fix_backslashes(char *text);

/* A copy of 'text' without leading and trailing spaces, control characters
   (1 to 31) and bytes of 0x80 or more. The copy is owned here and replaced
   by the next call. Main thread only. */
const char *codo_trim(const char *text);

#ifdef __cplusplus
}
#endif

#endif

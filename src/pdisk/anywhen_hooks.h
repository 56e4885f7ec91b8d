/*
** Where the file system tells the anywhen history about host changes: the
** kinds of event and the one call that records them (anywhen_store.cpp).
*/
#pragma once

/* Kinds of anywhen_event. */
enum : int {
    ANYWHEN_CHECKPOINT = 0,  /* a host file was written: path, host_path */
    ANYWHEN_DELETED = 1,     /* a host path was deleted: path */
    ANYWHEN_FOLDER_MADE = 2, /* a host folder was made: path */
    ANYWHEN_TIME_MARK = 3,   /* a time line with the label 'path' (may be null) */
    ANYWHEN_OPEN_DAY = 4,    /* make sure today's log exists (before any host change) */
};

/*
** Records one event in the history when recording is on; 'path' is the
** normalised virtual path, 'host_path' the host file (kind 0 only).
** Returns 0. Never stops the caller.
*/
int anywhen_event(int kind, const char *path, const char *host_path);

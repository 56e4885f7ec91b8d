/*
** The history store's session: opened by every (re)boot, closed by the exit
** path.
*/
#ifndef QUILLMAR_PLATFORM_HISTORY_SESSION_H
#define QUILLMAR_PLATFORM_HISTORY_SESSION_H

/* Starts the history session (a time-stamp line when recording is on). */
void anywhen_open();

/* Drops the current day's log table. */
void anywhen_close();

#endif

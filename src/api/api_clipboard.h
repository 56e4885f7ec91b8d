/*
** The userland clipboard: one text shared by every process, kept for the
** whole run (reboots and kills leave it alone), apart from the host's.
*/
#ifndef QUILLMAR_API_API_CLIPBOARD_H
#define QUILLMAR_API_API_CLIPBOARD_H

/* Replaces the text with a copy of 'text' up to its first NUL; a null text
   does nothing. Returns 0. */
int set_userland_clipboard_text(const char *text);

/* The text, or "" while none has been set. */
const char *get_userland_clipboard_text(void);

#endif

/*
** Inboxes and the events the runtime sends: each message is a NUL-terminated
** pod table text appended to the receiver's inbox and popped oldest first.
*/
#ifndef QUILLMAR_RUNTIME_MESSAGES_H
#define QUILLMAR_RUNTIME_MESSAGES_H

#include <stdint.h>

#include "process.h"

/* An inbox: the unread messages are the bytes from its read offset to its
   length; the space before the offset is reclaimed when the offset passes
   half the length. */
struct inbox_rec {
    char *data;       /* the bytes; owned */
    int64_t capacity; /* bytes allocated at data */
    int64_t length;   /* bytes appended and not reclaimed */
    int64_t read;     /* offset of the oldest unread message */
};

/* An inbox takes a message while it holds at most this many unread bytes. */
inline constexpr int64_t INBOX_CAP = 0x1000000;
inline constexpr int INBOX_INITIAL_CAPACITY = 16384;

/* A new empty inbox; null when the host has no memory for it. */
inbox_rec *create_inbox(void);
void destroy_inbox(inbox_rec *box);

/* Unread bytes of rec's inbox (0 without one). */
int64_t inbox_unread_bytes(const process_rec *rec);

/* Appends 'text' and a NUL to rec's inbox. Returns the bytes appended, or 0
   for a null rec or text, a process without an inbox, or an inbox over the
   cap. */
int32_t send_process_message_string(process_rec *rec, const char *text);

/* Pops the oldest message of rec's inbox. Returns its length (without the
   NUL) and points *text at it, valid until the next change of that inbox;
   -1 when the inbox is empty or missing. */
int64_t pop_process_message(process_rec *rec, const char **text);

/* Sends a report_error event for the current process to process 3 and logs
   "SYSTEM ERROR: <text>"; a null text reports "unknown error". Returns 0. */
int report_error(const char *text);

/* Sends a user_notification event to process 3. Returns 0. */
int notify(const char *text);

#endif

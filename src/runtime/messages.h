/*
** Inboxes and the events the runtime sends: each message is a NUL-terminated
** pod table text appended to the receiver's inbox and popped oldest first.
*/
#ifndef QUILLMAR_RUNTIME_MESSAGES_H
#define QUILLMAR_RUNTIME_MESSAGES_H

#include <stdint.h>

#include "process.h"

struct buffer_rec;

/* An inbox is a byte buffer holding NUL-terminated texts; the unread ones
   run from the record's message_read to the buffer's length. The space
   before message_read is reclaimed by the next append once it passes half
   the length, and at once when everything has been read.
   An inbox takes a message while it holds at most this many unread bytes. */
inline constexpr int64_t INBOX_CAP = 0x1000000;
inline constexpr int INBOX_INITIAL_CAPACITY = 16384;

/* Unread bytes of rec's inbox (0 without one). */
int64_t inbox_unread_bytes(const process_rec *rec);

/* Appends the text of 'buf' (up to its first NUL or its length) and a NUL
   to rec's inbox. Returns the bytes appended, or 0 for a null rec or buf, a
   process without an inbox, or an inbox over the cap. */
int32_t send_process_message(process_rec *rec, buffer_rec *buf);

/* The same for a NUL-terminated text. */
int32_t send_process_message_string(process_rec *rec, const char *text);

/* Pops the oldest message of rec's inbox: its text and NUL are written at
   the cursor of 'out', or of a shared buffer (cleared first, valid until the
   next call) when 'out' is null. Returns that buffer, or null when the inbox
   is empty or missing. */
buffer_rec *read_process_message(process_rec *rec, buffer_rec *out);

/* Sends the event text head, the decimal-escaped 'content', tail to process 3
   when it is live and its inbox within the cap; otherwise drops it. */
void send_event(const char *head, const char *content, const char *tail);

/* Sends a report_error event for the current process to process 3 and logs
   "SYSTEM ERROR: <text>"; a null text reports "unknown error". Returns 0. */
int report_error(const char *text);

/* Sends a user_notification event to process 3. Returns 0. */
int notify(const char *text);

#endif

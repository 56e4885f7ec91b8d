// Inboxes, and the error and notification events sent to process 3.
#include "messages.h"

#include <cstdio>
#include <cstring>

#include "buffer.h"
#include "host.h"
#include "runtime_log.h"

namespace {

inline constexpr int32_t EVENT_CAPACITY = 1024;       // initial room of an event text
inline constexpr int32_t READ_BUFFER_CAPACITY = 4096; // initial room of rpm_buffer

// Receives popped messages when the caller gives no buffer; kept for the run.
buffer_rec *rpm_buffer = nullptr;

// Before an append: moves the unread bytes to the front once the read offset
// has passed half the length, so the inbox neither grows without bound nor
// makes draining quadratic (each byte moves at most once per halving).
void compact(process_rec *rec) {
    buffer_rec *box = rec->message_queue;
    int32_t read = rec->message_read;
    if (read == 0 || int64_t{read} * 2 <= box->length) return;
    int32_t unread = box->length - read;
    std::memmove(box->data, box->data + read, static_cast<size_t>(unread));
    box->length = unread;
    box->cursor = unread;
    rec->message_read = 0;
}

// Appends n bytes of 'text' and a NUL to rec's inbox, within the cap.
// 'nul_follows' says text[n] is already the NUL.
int32_t append(process_rec *rec, const uint8_t *text, int64_t n, bool nul_follows) {
    if (!rec || !rec->message_queue || !text) return 0;
    if (inbox_unread_bytes(rec) > INBOX_CAP) return 0;
    compact(rec);
    buffer_rec *box = rec->message_queue;
    int32_t before = box->length;
    box->cursor = before;
    if (nul_follows) {
        if (bwrite(text, 1, n + 1, box) != n + 1) return 0;
    } else if ((n > 0 && bwrite(text, 1, n, box) != n) || !bwrite_uint8(0, box)) {
        box->length = box->cursor = before;  // nothing half-written stays
        return 0;
    }
    return static_cast<int32_t>(n + 1);
}

}  // namespace

int64_t inbox_unread_bytes(const process_rec *rec) {
    if (!rec || !rec->message_queue) return 0;
    return rec->message_queue->length - rec->message_read;
}

/* ---- messages in (text -> inbox) ---- */

int32_t send_process_message(process_rec *rec, buffer_rec *buf) {
    if (!buf) return 0;
    const void *nul = std::memchr(buf->data, 0, static_cast<size_t>(buf->length));
    int64_t n = nul ? static_cast<const uint8_t *>(nul) - buf->data : buf->length;
    return append(rec, buf->data, n, false);
}

int32_t send_process_message_string(process_rec *rec, const char *text) {
    if (!text) return 0;
    return append(rec, reinterpret_cast<const uint8_t *>(text),
                  static_cast<int64_t>(std::strlen(text)), true);
}

/* ---- messages out (inbox -> buffer) ---- */

buffer_rec *read_process_message(process_rec *rec, buffer_rec *out) {
    if (!rec || !rec->message_queue) return nullptr;
    buffer_rec *box = rec->message_queue;
    if (rec->message_read >= box->length) return nullptr;
    if (!out) {
        if (!rpm_buffer) rpm_buffer = create_buffer_2(READ_BUFFER_CAPACITY, 'r');
        if (!rpm_buffer) return nullptr;
        bclear(rpm_buffer);
        out = rpm_buffer;
    }
    const uint8_t *start = box->data + rec->message_read;
    int32_t left = box->length - rec->message_read;
    const void *nul = std::memchr(start, 0, static_cast<size_t>(left));
    int32_t n = nul ? static_cast<int32_t>(static_cast<const uint8_t *>(nul) - start) : left;
    if (nul) {
        bwrite(start, 1, n + 1, out);
    } else {
        bwrite(start, 1, n, out);
        bwrite_uint8(0, out);
    }
    rec->message_read += nul ? n + 1 : n;
    if (rec->message_read >= box->length) {  // all read: start over, nothing to move
        rec->message_read = 0;
        box->length = box->cursor = 0;
    }
    return out;
}

/* ---- events ---- */

void send_event(const char *head, const char *content, const char *tail) {
    buffer_rec *b = create_buffer_2(EVENT_CAPACITY, 'r');
    if (!b) return;
    bappend_str(b, head);
    bappend_str_escaped(b, content);
    bappend_str(b, tail);
    send_process_message(get_process(WM_PID), b);
    destroy_buffer(b);
}

int report_error(const char *text) {
    const char *content = text ? text : "unknown error";
    char tail[128];
    std::snprintf(tail, sizeof tail, "\",_from=%lld,_sent_t=%lld,_flags=%d}",
                  static_cast<long long>(cproc ? cproc->id : 0),
                  static_cast<long long>(os_get_time()), cproc ? cproc->is_system : 0);
    send_event("{event=\"report_error\",content=\"", content, tail);
    runtime_log("SYSTEM ERROR: %s\n", content);
    return 0;
}

int notify(const char *text) {
    send_event("{event=\"user_notification\",content=\"", text ? text : "", "\"}");
    return 0;
}

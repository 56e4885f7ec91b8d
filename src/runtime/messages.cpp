// Inboxes, and the error, notification and drop events sent to process 3.
#include "messages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host.h"
#include "runtime_log.h"

namespace {

// Moves the unread bytes to the front once the read offset has passed half
// the length, so draining a long inbox stays linear.
void compact(inbox_rec *box) {
    if (box->read == 0 || box->read * 2 <= box->length) return;
    int64_t unread = box->length - box->read;
    std::memmove(box->data, box->data + box->read, static_cast<size_t>(unread));
    box->length = unread;
    box->read = 0;
}

// Appends n bytes and a NUL; false when the host has no memory.
bool append(inbox_rec *box, const char *text, int64_t n) {
    compact(box);
    int64_t need = box->length + n + 1;
    if (need > box->capacity) {
        int64_t cap = std::max<int64_t>(need, box->capacity * 2);
        char *data = static_cast<char *>(std::realloc(box->data, static_cast<size_t>(cap)));
        if (!data) return false;
        box->data = data;
        box->capacity = cap;
    }
    std::memcpy(box->data + box->length, text, static_cast<size_t>(n));
    box->data[box->length + n] = 0;
    box->length = need;
    return true;
}

// 'text' with control bytes, bytes from 128, backslash and double quote as a
// backslash and three decimal digits, as the pod reader reads them back.
std::string escaped(const char *text) {
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        unsigned char c = *p;
        if (c < 32 || c >= 128 || c == '\\' || c == '"') {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03d", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

/* ---- inboxes ---- */

inbox_rec *create_inbox(void) {
    auto *box = static_cast<inbox_rec *>(std::calloc(1, sizeof(inbox_rec)));
    if (!box) return nullptr;
    box->data = static_cast<char *>(std::malloc(INBOX_INITIAL_CAPACITY));
    if (!box->data) {
        std::free(box);
        return nullptr;
    }
    box->capacity = INBOX_INITIAL_CAPACITY;
    return box;
}

void destroy_inbox(inbox_rec *box) {
    if (!box) return;
    std::free(box->data);
    std::free(box);
}

int64_t inbox_unread_bytes(const process_rec *rec) {
    if (!rec || !rec->message_queue) return 0;
    return rec->message_queue->length - rec->message_queue->read;
}

/* ---- messages in (text -> inbox) ---- */

int32_t send_process_message_string(process_rec *rec, const char *text) {
    if (!rec || !text || !rec->message_queue) return 0;
    if (inbox_unread_bytes(rec) > INBOX_CAP) return 0;
    int64_t n = static_cast<int64_t>(std::strlen(text));
    if (n >= INT32_MAX) return 0;
    if (!append(rec->message_queue, text, n)) return 0;
    return static_cast<int32_t>(n + 1);
}

/* ---- messages out (inbox -> text) ---- */

int64_t pop_process_message(process_rec *rec, const char **text) {
    if (!rec || !rec->message_queue) return -1;
    inbox_rec *box = rec->message_queue;
    compact(box);
    if (box->read >= box->length) return -1;
    const char *start = box->data + box->read;
    int64_t left = box->length - box->read;
    const void *nul = std::memchr(start, 0, static_cast<size_t>(left));
    int64_t n = nul ? static_cast<const char *>(nul) - start : left;
    box->read += nul ? n + 1 : n;
    if (box->read >= box->length) box->read = box->length;
    *text = start;
    return n;
}

/* ---- events ---- */

int report_error(const char *text) {
    const char *content = text ? text : "unknown error";
    {
        std::string event = "{event=\"report_error\",content=\"" + escaped(content);
        char tail[128];
        std::snprintf(tail, sizeof tail, "\",_from=%lld,_sent_t=%lld,_flags=%d}",
                      static_cast<long long>(cproc ? cproc->id : 0),
                      static_cast<long long>(os_get_time()), cproc ? cproc->is_system : 0);
        event += tail;
        send_process_message_string(get_process(WM_PID), event.c_str());
    }
    runtime_log("SYSTEM ERROR: %s\n", content);
    return 0;
}

int notify(const char *text) {
    std::string event =
        "{event=\"user_notification\",content=\"" + escaped(text ? text : "") + "\"}";
    send_process_message_string(get_process(WM_PID), event.c_str());
    return 0;
}

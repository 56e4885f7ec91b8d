// HTTP fetches on worker threads through libcurl.
#include "gurl.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net_seam.h"
#include "threads.h"

gurl_limits_rec gurl_limits = {0x2000000, 30000, 1024, 30, 600000};

namespace {

inline constexpr uint64_t RESPONSE_START_CAPACITY = 1024;
inline constexpr uint64_t URL_START_CAPACITY = 256;
inline constexpr uint64_t GROWTH_START = 256;
inline constexpr long MAX_REDIRECTS = 10;

gurl_job_rec *gurl_job[GURL_SLOTS];
bool gurl_inited = false;
bool curl_ready = false;
uint32_t next_gurl_job_id = 1;
int32_t live_workers = 0;  // atomic
int32_t peak_workers = 0;  // atomic

char host_prefix[1024] = GURL_CART_HOST_PREFIX;
char forum_prefix[1024] = GURL_CART_FORUM_PREFIX;

template <typename T> T load(const T &v) { return __atomic_load_n(&v, __ATOMIC_ACQUIRE); }
template <typename T> void store(T &v, T x) { __atomic_store_n(&v, x, __ATOMIC_RELEASE); }

gurl_buffer_rec *new_buffer(uint64_t capacity) {
    auto *b = static_cast<gurl_buffer_rec *>(std::calloc(1, sizeof(gurl_buffer_rec)));
    if (!b) return nullptr;
    b->data = static_cast<uint8_t *>(std::calloc(1, capacity));
    if (!b->data) {
        std::free(b);
        return nullptr;
    }
    b->capacity = capacity;
    return b;
}

void free_buffer(gurl_buffer_rec *b) {
    if (!b) return;
    std::free(b->data);
    std::free(b);
}

// A copy of 'text' in a buffer of the first capacity of 256, 512, ... that
// holds it and its NUL.
gurl_buffer_rec *text_buffer(const char *text) {
    const uint64_t n = std::strlen(text);
    uint64_t cap = URL_START_CAPACITY;
    while (cap < n + 1) cap *= 2;
    gurl_buffer_rec *b = new_buffer(cap);
    if (!b) return nullptr;
    std::memcpy(b->data, text, n);
    b->length = b->cursor = n;
    return b;
}

void release(gurl_job_rec *job) {
    if (__atomic_sub_fetch(&job->refs, 1, __ATOMIC_ACQ_REL) != 0) return;
    free_buffer(job->url);
    free_buffer(job->extra);
    free_buffer(job->response);
    std::free(job);
}

// Ends a job that has no worker: failed at once, its callback called here.
void fail_at_once(gurl_job_rec *job) {
    store(job->state, uint32_t{GURL_FAILED});
    if (job->callback) job->callback(job);
    store(job->finished, uint32_t{1});
}

size_t curl_write(char *bytes, size_t size, size_t count, void *data) {
    auto *job = static_cast<gurl_job_rec *>(data);
    const uint64_t n = uint64_t(size) * count;
    if (load(job->cancelled)) return 0;
    if (n > gurl_limits.max_body || job->response->length > gurl_limits.max_body - n) return 0;
    if (n && !gurl_buffer_write(job->response, bytes, n)) return 0;
    job->last_chunk_size = n;
    store(job->state, uint32_t{GURL_RECEIVING});
    if (job->callback) job->callback(job);
    return n;
}

int curl_progress(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return load(static_cast<gurl_job_rec *>(data)->cancelled) ? 1 : 0;
}

curl_socket_t curl_open_socket(void *, curlsocktype, struct curl_sockaddr *a) {
    if (net_loopback_guard_installed() && !net_is_loopback(&a->addr, a->addrlen)) {
        std::fprintf(stderr, "** loopback guard: HTTP connection outside loopback refused\n");
        std::abort();
    }
    const int fd = socket(a->family, a->socktype | SOCK_CLOEXEC, a->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int worker(void *data) {
    auto *job = static_cast<gurl_job_rec *>(data);
    CURL *curl = curl_easy_init();
    CURLcode result = CURLE_FAILED_INIT;
    struct curl_slist *pin = nullptr;
    if (curl) {
        job->curl = curl;
        curl_easy_setopt(curl, CURLOPT_URL, reinterpret_cast<const char *>(job->url->data));
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, curl_progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, job);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curl_write);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, job);
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, curl_open_socket);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(gurl_limits.connect_timeout_ms));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, long(gurl_limits.low_speed_bytes));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(gurl_limits.low_speed_seconds));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(gurl_limits.max_time_ms));
        if (net_loopback_guard_installed()) {
            pin = curl_slist_append(nullptr, "::127.0.0.1:");
            if (!pin) {
                curl_easy_cleanup(curl);
                curl = nullptr;
            } else {
                curl_easy_setopt(curl, CURLOPT_CONNECT_TO, pin);
            }
        }
        if (curl) result = curl_easy_perform(curl);
    }
    if (!load(job->cancelled)) {
        store(job->state, uint32_t(result == CURLE_OK ? GURL_DONE : GURL_FAILED));
        if (job->callback) job->callback(job);
        store(job->finished, uint32_t{1});
    }
    if (curl) curl_easy_cleanup(curl);
    curl_slist_free_all(pin);
    job->curl = nullptr;
    __atomic_sub_fetch(&live_workers, 1, __ATOMIC_ACQ_REL);
    release(job);
    return 0;
}

void note_peak(int32_t now) {
    int32_t peak = load(peak_workers);
    while (now > peak && !__atomic_compare_exchange_n(&peak_workers, &peak, now, false, __ATOMIC_ACQ_REL,
                                                      __ATOMIC_ACQUIRE)) {
    }
}

// Lets go of the job in 'slot': its worker, if still running, is cut off.
void drop_slot(int slot) {
    gurl_job_rec *old = gurl_job[slot];
    if (!old) return;
    gurl_job[slot] = nullptr;
    os_destroy_thread(static_cast<os_thread_rec *>(old->thread));
    old->thread = nullptr;
    store(old->cancelled, uint32_t{1});
    release(old);
}

}  // namespace

extern "C" int gurl_buffer_write(gurl_buffer_rec *b, const void *bytes, uint64_t count) {
    const uint64_t room = b->cursor + count + 1;
    if (b->capacity < room) {
        uint64_t cap = b->capacity > GROWTH_START ? b->capacity : GROWTH_START;
        while (cap < room) cap *= 2;
        // The bytes past the NUL are never read, so the new room is not
        // cleared: touching it would fault in pages a large body never uses.
        auto *data = static_cast<uint8_t *>(std::realloc(b->data, cap));
        if (!data) return 0;
        b->data = data;
        b->capacity = cap;
    }
    if (count) std::memcpy(b->data + b->cursor, bytes, count);
    b->cursor += count;
    b->length = b->cursor;
    b->data[b->length] = 0;
    return 1;
}

extern "C" void gurl_global_init(void) {
    if (curl_ready) return;
    curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

extern "C" uint32_t gurl_get(const char *url, const char *extra, gurl_callback callback) {
    if (!url) return 0xFFFFFFFFu;
    gurl_global_init();
    if (!gurl_inited) {
        std::memset(gurl_job, 0, sizeof gurl_job);
        gurl_inited = true;
    }
    const uint32_t id = next_gurl_job_id++;
    const int slot = int(id % GURL_SLOTS);
    drop_slot(slot);

    auto *job = static_cast<gurl_job_rec *>(std::calloc(1, sizeof(gurl_job_rec)));
    if (!job) return id;  // no record: the id names no job
    job->id = id;
    job->refs = 1;
    job->callback = callback;
    job->url = text_buffer(url);
    job->extra = extra ? text_buffer(extra) : nullptr;
    job->response = new_buffer(RESPONSE_START_CAPACITY);
    gurl_job[slot] = job;
    if (!job->url || !job->response || (extra && !job->extra) || !curl_ready) {
        fail_at_once(job);
        return id;
    }
    if (__atomic_add_fetch(&live_workers, 1, __ATOMIC_ACQ_REL) > GURL_MAX_WORKERS) {
        __atomic_sub_fetch(&live_workers, 1, __ATOMIC_ACQ_REL);
        fail_at_once(job);
        return id;
    }
    note_peak(load(live_workers));
    __atomic_add_fetch(&job->refs, 1, __ATOMIC_ACQ_REL);
    os_thread_rec *t = os_create_thread(worker, job);
    if (!os_thread_started(t)) {
        os_destroy_thread(t);
        __atomic_sub_fetch(&live_workers, 1, __ATOMIC_ACQ_REL);
        __atomic_sub_fetch(&job->refs, 1, __ATOMIC_ACQ_REL);
        fail_at_once(job);
        return id;
    }
    job->thread = t;
    return id;
}

extern "C" gurl_job_rec *gurl_get_job(int64_t id) {
    if (!gurl_inited || id < 0 || id > int64_t{0xFFFFFFFF}) return nullptr;
    for (int i = 0; i < GURL_SLOTS; i++)
        if (gurl_job[i] && gurl_job[i]->id == uint32_t(id)) return gurl_job[i];
    return nullptr;
}

extern "C" uint32_t gurl_job_state(const gurl_job_rec *job) { return load(job->state); }

extern "C" int gurl_job_finished(const gurl_job_rec *job) { return int(load(job->finished)); }

extern "C" int gurl_shutdown(int64_t wait_ms) {
    if (gurl_inited)
        for (int i = 0; i < GURL_SLOTS; i++)
            if (gurl_job[i]) store(gurl_job[i]->cancelled, uint32_t{1});
    for (int64_t waited = 0; load(live_workers) > 0 && waited < wait_ms; waited++) usleep(1000);
    const bool ended = load(live_workers) == 0;
    if (gurl_inited)
        for (int i = 0; i < GURL_SLOTS; i++) drop_slot(i);
    return ended;
}

extern "C" int32_t gurl_live_workers(void) { return load(live_workers); }

extern "C" int32_t gurl_peak_workers(void) { return load(peak_workers); }

extern "C" void gurl_reset_for_tests(void) {
    gurl_shutdown(10000);
    next_gurl_job_id = 1;
    store(peak_workers, int32_t{0});
}

extern "C" void gurl_set_cart_prefixes(const char *host, const char *forum) {
    std::snprintf(host_prefix, sizeof host_prefix, "%s", host ? host : GURL_CART_HOST_PREFIX);
    std::snprintf(forum_prefix, sizeof forum_prefix, "%s", forum ? forum : GURL_CART_FORUM_PREFIX);
}

extern "C" const char *gurl_cart_host_prefix(void) { return host_prefix; }

extern "C" const char *gurl_cart_forum_prefix(void) { return forum_prefix; }

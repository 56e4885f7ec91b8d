// Raw capture of the mixed sound. The audio thread appends each device
// buffer while the capture flag is set; the main thread starts and stops the
// capture under the audio lock, and writes the file only once the audio
// thread can no longer reach the buffer.
#include <atomic>
#include <cstdio>

#include "buffer.h"
#include "captures.h"
#include "host.h"
#include "messages.h"
#include "pdisk.h"

namespace {

inline constexpr int32_t CAPTURE_INITIAL_BYTES = 1764000;  /* ten seconds of sound */
inline constexpr int32_t CAPTURE_BUFFER_TAG = 97;
inline constexpr double BYTES_PER_SECOND = 176400.0;        /* 44100 frames of 4 bytes */

std::atomic_ref<uint32_t> capturing() { return std::atomic_ref<uint32_t>(app.audio_capturing); }
std::atomic_ref<buffer_rec *> capture_buffer() { return std::atomic_ref<buffer_rec *>(app.audio_capture_buffer); }

/* Stops the capture with the audio lock held and returns its buffer, which
   the audio thread can no longer reach. */
buffer_rec *take_buffer() {
    os_lock_audio();
    capturing().store(0, std::memory_order_release);
    buffer_rec *b = capture_buffer().load(std::memory_order_relaxed);
    capture_buffer().store(nullptr, std::memory_order_relaxed);
    os_unlock_audio();
    return b;
}

}  // namespace

int audio_capture_start(void) {
    buffer_rec *b = create_buffer_2(CAPTURE_INITIAL_BYTES, CAPTURE_BUFFER_TAG);
    destroy_buffer(take_buffer());
    if (!b) return 0;
    os_lock_audio();
    capture_buffer().store(b, std::memory_order_relaxed);
    capturing().store(1, std::memory_order_release);
    os_unlock_audio();
    return 0;
}

int audio_capture_end(void) {
    buffer_rec *b = take_buffer();
    int result = 1;
    const char *path = get_capture_filename("audio", ".raw");
    pfile_rec *f = path ? pfopen(path, "wb") : nullptr;
    if (f) {
        const int64_t n = b ? b->length : 0;
        const bool written = n == 0 || pfwrite(b->data, 1, n, f) == n;
        if (pfclose(f) == 0 && written) {
            char text[CAPTURE_PATH_SIZE + 64];
            snprintf(text, sizeof text, "captured %3.3f seconds: %s", double(n) / BYTES_PER_SECOND, path);
            notify(text);
            result = 0;
        }
    }
    destroy_buffer(b);
    return result;
}

void audio_capture_append(const uint8_t *stream, int32_t length) {
    if (!capturing().load(std::memory_order_acquire)) return;
    buffer_rec *b = capture_buffer().load(std::memory_order_relaxed);
    // Past the byte buffer's limit the capture stops growing, silently: the
    // audio thread never writes the log.
    if (!b || length <= 0 || int64_t(b->length) + length > BUFFER_MAX_LENGTH) return;
    bwrite(stream, 1, length, b);
}

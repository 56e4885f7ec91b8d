/*
** Captures: screenshots and the cartridge label, GIF recordings of the
** window manager's display, and raw captures of the mixed sound, all stored
** under /desktop/host by one naming rule. C linkage. The two frame hooks
** (update_screenshot, update_gif_recording) are declared in runtime/host.h
** beside the other hooks, and captures_reset in boot_hooks.h.
*/
#ifndef QUILLMAR_PLATFORM_CAPTURES_H
#define QUILLMAR_PLATFORM_CAPTURES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- shared by every capture ---- */

/* Bytes of a base name in process memory (at CAPTURE_NAME_ADDR). */
#define CAPTURE_NAME_BYTES 64
#define CAPTURE_NAME_ADDR 0x60

/* Size of the frame video out hands over, in pixels. */
#define CAPTURE_FRAME_W 480
#define CAPTURE_FRAME_H 270

/* Size of capture_filename_buf. */
#define CAPTURE_PATH_SIZE 1024

/* Holds the last path chosen by get_capture_filename. */
extern char capture_filename_buf[CAPTURE_PATH_SIZE];

/* The path of a capture file that does not exist yet, in
   capture_filename_buf: "/desktop/host/<name><ext>", else the first free
   "/desktop/host/<name>_<n><ext>" for n = 1 to 255; null when all are taken. */
const char *get_capture_filename(const char *name, const char *ext);

/* Reads the 64 name bytes at CAPTURE_NAME_ADDR of the running process into
   'out' (65 bytes): cut at the first NUL, '/' and '\' replaced by '_'. */
void read_capture_name(char *out);

/* Clamps 'v' to lo..hi; an upper bound below lo gives lo. */
int32_t capture_clamp(int32_t v, int32_t lo, int32_t hi);

/* ---- screenshots and the label ---- */

/* The parameters of the armed screenshot; capture_screenshot replaces the
   region with the one it took, in frame pixels. */
extern int32_t sshot_x0, sshot_y0, sshot_width, sshot_height, sshot_scale;
extern int32_t sshot_label, sshot_skip, sshot_silent;
extern char sshot_name[256];

/* Reads and clamps the parameter block at 0x50 of the running process (and
   the name); the label flag forces the whole frame at scale 1. The caller
   arms the capture (app.screenshot_requested = 1). */
void request_screenshot(void);

/* Makes the image of the armed region of 'frame' (480 x 270, 0x00RRGGBB)
   and stores it: a PNG on the desktop, or the label at
   /ram/cart/label.qoi. Every outcome is sent as a notification. */
void capture_screenshot(const uint32_t *frame);

/* ---- GIF recording ---- */

/* The recording's parameters (region in display pixels). */
extern int32_t src_x0, src_y0, src_width, src_height, gif_scale;
extern int32_t out_width, out_height, gif_skip, gif_silent, gif_frames;
extern char gif_name[256];
extern char gif_filename[CAPTURE_PATH_SIZE];

/* Where a recording's buffers come from: 'n' zeroed bytes, or null when
   there is no memory (tests swap it to make a start run out). */
extern void *(*gif_buffer_alloc)(size_t n);

/* Starts a recording from the parameter block at 0x40 of the running
   process, into a hidden file beside its target. 0 when it started (a
   running recording is then abandoned), 1 otherwise (an error line is
   printed and a running recording goes on unchanged). */
int gif_start(void);

/* Adds one frame of process 3's display; 'pal' is video out's table (the
   first 256 entries are the colours). */
void gif_frame(const uint32_t *pal);

/* gif_end_ex(1). */
int gif_end(void);

/* Ends the recording. With 'write' the file is finished and put at its
   target, and the outcome is notified; 1 when writing failed, else 0.
   Without, the recording is cancelled as by gif_cancel. */
int gif_end_ex(int write);

/* Ends a running recording without writing anything or sending anything;
   the temporary file is removed. */
void gif_cancel(void);

/*
** Output of a recording that is not a file (benchmarks, fuzzing): the
** coded bytes go to 'write', which returns 0, or -1 to stop the coding.
** gif_begin_stream starts a recording of the given region with no file
** behind it (abandoning any other); gif_end_ex and gif_cancel end it, and
** only the trailer is then written.
*/
typedef int (*gif_output_fn)(void *ctx, const uint8_t *bytes, int64_t n);
void gif_begin_stream(int32_t x0, int32_t y0, int32_t width, int32_t height, int32_t scale,
                      gif_output_fn write, void *ctx);

/* ---- audio capture ---- */

/* Starts a capture into a new buffer; 0. */
int audio_capture_start(void);

/* Stops the capture, then stores the sound in /desktop/host/audio.raw (or
   the next free name). 1 when no file could be opened or written, else 0. */
int audio_capture_end(void);

/* Audio thread: appends the 'length' bytes just mixed while a capture
   runs. Never locks, logs or raises. */
void audio_capture_append(const uint8_t *stream, int32_t length);

#ifdef __cplusplus
}
#endif

#endif

/*
** The two records the whole host shares: `config`, the settings (zeroed and
** defaulted once at start, then set from the command line and the settings
** calls), and `app`, the run-time state (zeroed at every boot and reboot).
** C linkage. The start-up code owns their values; the runtime only reads and
** writes the fields named in its own contracts.
*/
#ifndef QUILLMAR_RUNTIME_APP_STATE_H
#define QUILLMAR_RUNTIME_APP_STATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct buffer_rec;

/* Settings. Not touched by reboots. */
typedef struct config_rec {
    uint32_t fullscreen;        /* 0/1, default 1: full-screen window */
    uint32_t pixel_perfect;     /* 0/1, default 1: whole multiples of 480 x 270, nearest sampling */
    uint32_t stretch;           /* 0/1: ignore the 16:9 aspect ratio */
    uint32_t blit_720p;         /* 0/1: resample the picture to 1280 x 720 */
    uint32_t allow_highdpi;     /* 0/1: high-DPI capable window */
    uint32_t sdl_render_driver; /* 1 asks for the "opengl" render driver; stored unclamped */
    uint32_t fullscreen_window; /* 0/1: borderless desktop-sized window instead of full-screen mode */
    uint32_t pixel_scale;       /* windowed size in multiples of 480 x 270; 0 means 2 */
    uint32_t anywhen;           /* 0/1: the file-history store records changes */
    uint32_t volume;            /* 0..256, default 192: master volume */
    uint32_t mute_audio;        /* 0/1: master volume forced to 0 */
    uint32_t swap_stereo;       /* 0/1: left and right output exchanged */
    uint32_t network_access;    /* 0/1, default 1: sockets and remote fetches allowed */
    uint32_t battery_saver;     /* 0/1: halve the frame rate while the user is idle */
    uint32_t deadzone;          /* 0..256: stored controller dead zone; nothing reads it */
    char home_path[1024];       /* application-data folder given with -home; empty = default */
    char desktop_path[1024];    /* desktop folder override; empty = default */
    char launch_arg[1024];      /* last plain command-line argument */
    char stat_text[1024];       /* text returned by the statistics call */
    uint32_t use_system_rom;    /* 0/1: set by -use_system_rom; nothing reads it */
    uint32_t headless;          /* 0/1: set by -x; no video out, no boot-time gating of slices */
} config_rec;

/* Run-time state. Zeroed at every (re)boot, then audio_focus = -2 and
   audio_synced_pid = -3. */
typedef struct app_state_rec {
    uint64_t focus_gained_t;        /* ms at the last window-focus gain */
    uint32_t boot_alt_colours;      /* the boot screen uses its alternative colours */
    uint32_t signal36_flag;         /* raised by signal 36 */
    int64_t audio_focus;            /* pid whose memory the mixer mirrors; -2 none */
    int64_t audio_synced_pid;       /* pid the mixer copy last received in full; -3 after a reset */
    uint64_t audio_allowed_pid;     /* a further pid granted audio calls (signal 15) */
    uint32_t audio_capturing;       /* an audio capture runs */
    struct buffer_rec *audio_capture_buffer; /* receives captured samples */
    uint32_t gif_recording;         /* a GIF recording runs */
    uint32_t gif_frame_count;       /* frames counted by the recorder */
    uint32_t screenshot_requested;  /* a screenshot is armed */
    uint32_t boot_done;             /* the boot screen has finished */
    uint32_t boot_release;          /* the boot screen may end (signal 37) */
    uint32_t has_expcart;           /* an expansion cartridge is mounted at /ram/expcart */
    uint32_t mouse_locked;          /* the lock bit (4) while the host mouse is locked */
    int32_t locked_dx_acc;          /* locked-mouse x movement not yet reported, 1/64 steps */
    int32_t locked_dy_acc;          /* locked-mouse y movement not yet reported, 1/64 steps */
    uint32_t skip_next_motion;      /* the next locked motion event adds nothing */
    uint64_t exclusive_pid;         /* pid holding the exclusive run; 0 none */
    uint64_t last_input_t;          /* ms of the last host input */
    uint32_t idle;                  /* the battery saver found the user idle this frame */
    uint64_t frame_count;           /* system frames since the last reset */
    uint64_t boot_start_frame;      /* frame_count when the boot clock started; 0 = not yet */
    uint32_t reboot_requested;      /* a reboot is pending */
    uint32_t exit_requested;        /* program exit is pending */
    uint32_t exit_wait;             /* frames waited for an exclusive process after an exit request */
} app_state_rec;

extern config_rec config;
extern app_state_rec app;

#ifdef __cplusplus
}
#endif

#endif

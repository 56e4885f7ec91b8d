// The frame loop, the frame's end and pacing, and the exit path.
#include "frame_loop.h"

#include <cstdio>

#include "boot_hooks.h"
#include "frame_clock.h"
#include "anywhen.h"
#include "host.h"
#include "host_exit.h"
#include "host_open.h"
#include "pdisk.h"
#include "process.h"
#include "slice.h"
#include "startup.h"

uint64_t last_t = 0;

namespace {

uint32_t *(*video_out)(int32_t *, int32_t *) = generate_video_out;

// The live root process, or null once it has returned, been killed or
// halted. Looked up by id: a killed record is gone from the table.
process_rec *live_root() {
    process_rec *root = get_process(ROOT_PID);
    return root && root->state != PROC_ENDED ? root : nullptr;
}

[[noreturn]] void end_for_root() {
    printf("%s\n", ROOT_ENDED_MESSAGE);
    codo_debug("** root process ended\n");
    host_exit(1);
}

[[noreturn]] void exit_now() {
    quillmar_exit();
    host_exit(0);
}

// The frame period ends 'period' ms after last_t.
void pace(uint32_t period) {
    for (int sleeps = 0; sleeps < MAX_PACING_SLEEPS && get_ticks() - last_t < period; sleeps++)
        os_sleep(1);
    last_t = get_ticks();
}

}  // namespace

void frame_set_video_out(uint32_t *(*fn)(int32_t *, int32_t *)) { video_out = fn ? fn : generate_video_out; }

void system_frame() {
    debug_system_frames_since_reboot++;

    if (app.reboot_requested && app.exclusive_pid == 0) do_reboot();

    if (app.exit_requested) {
        if (app.exclusive_pid == 0) exit_now();
        if (app.exit_wait++ >= EXIT_WAIT_FRAMES) exit_now();
    }

    if (!system_inited) {
        os_system_init();
        sockets_init();
        system_inited = 1;
    }

    (void)get_ticks();
    start_frame();

    prepare_processes_for_frame();
    process_rec *root = live_root();
    if (!root) end_for_root();
    run_process_slice(root, 1.0);
    update_processes_after_frame();

    flush_dirty_mounts_delayed();
    prune_mounts();
    sync_fs(0);

    app.frame_count++;
    end_frame();
}

void end_frame() {
    if (!config.headless) {
        int32_t width = 0, height = 0;
        uint32_t *frame = video_out(&width, &height);
        if (frame) blit_to_sdl_window_hardware(frame, width);
    }
    reap_host_openers();

    app.idle = config.battery_saver && app.boot_done &&
               app.last_input_t + IDLE_AFTER_INPUT_MS < get_ticks();
    pace(app.idle ? IDLE_FRAME_PERIOD_MS : FRAME_PERIOD_MS);
}

void quillmar_exit() {
    if (app.exclusive_pid != 0) {
        for (int i = 0; i < EXIT_BARE_FRAMES; i++) {
            process_rec *root = live_root();
            if (!root) break;
            prepare_processes_for_frame();
            run_process_slice(root, 1.0);
            update_processes_after_frame();
            if (app.exclusive_pid == 0) break;
        }
    }
    flush_dirty_mounts_immediately();
    sync_fs(1);
    delete_sockets_by_process(0);
    sockets_exit();
    anywhen_close();
}

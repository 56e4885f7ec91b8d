// The fake host the runtime tests link in place of the platform, API,
// typed-array and audio libraries: it records the log and every hook call,
// lets a test set the clocks and the audio bracket's answer, and gives every
// process the t_* test globals:
//   t_run(pid, fraction)       run_process_slice; the cycles used
//   t_kill(pid, mode)          mode 0 kills, 1 restarts
//   t_flip()                   sets the caller's flipped flag and ends its slice
//   t_spend(n)                 spend_cpu(n)
//   t_peek(addr [, width])     peek, peek2, peek4 or peek8 (width 1, 2, 4, 8)
//   t_poke(addr, v [, width])  poke of the same widths
//   t_send(pid, text)          send_process_message_string; bytes appended
//   t_read()                   the caller's oldest message, or nil
//   t_pid()                    get_cproc_id()
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"

namespace fake_host {

// Clears every recording and setting.
void reset();

// The raw log texts, in order, and all of them joined.
const std::vector<std::string> &log();
std::string log_text();

// Also writes every log text to standard error (for death tests).
void echo_log(bool on);

// Clocks.
void set_time(int64_t ms);        // what os_get_time returns
void set_boot_time(uint32_t ms);  // what boot_get_time returns

// The audio lock: the nesting level, and how many unlocks went below 0.
int audio_lock_level();
int audio_lock_errors();
int audio_lock_calls();  // os_lock_audio calls since the reset

// The audio bracket: audio_op_start returns 'result' (0 takes a lock level).
void set_audio_op_start_result(int result);
int audio_op_start_calls();

// Hooks.
struct mouse_call {
    int32_t flags, event_sensitivity, move_sensitivity;
};
const std::vector<mouse_call> &mouse_calls();
const std::vector<int64_t> &deleted_socket_owners();  // ids passed to delete_sockets_by_process
int socket_updates();                                 // update_all_sockets calls
int kill_all_audio_calls();                           // mudo_kill_all_audio calls
// The capture hooks in call order: 'g' update_gif_recording, 's'
// update_screenshot, with the pointer each received.
struct capture_call {
    char hook;
    const uint32_t *data;
};
const std::vector<capture_call> &capture_calls();
// The state initialisers in call order: "api", "os", "userdata", "socket".
const std::vector<std::string> &initialisers();

}  // namespace fake_host

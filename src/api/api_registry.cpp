// The registration table and api_add_c_functions.
#include "api_registry.h"

#include <cstddef>

#include "api_functions.h"
#include "host.h"

// In registration order. A later registration of the same name would replace
// an earlier one; no name appears twice. Every entry holds its function.
const api_entry api_table[] = {
    /* ---- tables ---- */
    {"deli", "lua54_deli", lua54_deli},  /* 1 */
    {"add", "lua54_add", lua54_add},  /* 2 */
    {"del", "lua54_del", lua54_del},  /* 3 */
    {"count", "lua54_count", lua54_count},  /* 4 */
    /* ---- system state ---- */
    {"time", "lua54_time", lua54_time},  /* 5 */
    {"t", "lua54_time", lua54_time},  /* 6 */
    {"stat", "lua54_stat", lua54_stat},  /* 7 */
    {"date", "lua54_date", lua54_date},  /* 8 */
    /* ---- drawing, sprites, map and print ---- */
    {"cls", "lua54_cls", lua54_cls},  /* 9 */
    {"fillp", "lua54_fillp", lua54_fillp},  /* 10 */
    {"pset", "lua54_pset", lua54_pset},  /* 11 */
    {"pget", "lua54_pget", lua54_pget},  /* 12 */
    {"fset", "lua54_fset", lua54_fset},  /* 13 */
    {"fget", "lua54_fget", lua54_fget},  /* 14 */
    {"mset", "lua54_mset", lua54_mset},  /* 15 */
    {"mget", "lua54_mget", lua54_mget},  /* 16 */
    {"camera", "lua54_camera", lua54_camera},  /* 17 */
    {"clip", "lua54_clip", lua54_clip},  /* 18 */
    {"rectfill", "lua54_rectfill", lua54_rectfill},  /* 19 */
    {"rect", "lua54_rect", lua54_rect},  /* 20 */
    {"ovalfill", "lua54_ovalfill", lua54_ovalfill},  /* 21 */
    {"circfill", "lua54_circfill", lua54_circfill},  /* 22 */
    {"oval", "lua54_oval", lua54_oval},  /* 23 */
    {"circ", "lua54_circ", lua54_circ},  /* 24 */
    {"rrect", "lua54_rrect", lua54_rrect},  /* 25 */
    {"rrectfill", "lua54_rrectfill", lua54_rrectfill},  /* 26 */
    {"line", "lua54_line", lua54_line},  /* 27 */
    {"tline3d", "lua54_tline3d", lua54_tline3d},  /* 28 */
    {"sspr", "lua54_sspr", lua54_sspr},  /* 29 */
    {"spr", "lua54_spr", lua54_spr},  /* 30 */
    {"_draw_map", "lua54_draw_map", lua54_draw_map},  /* 31 */
    {"blit", "lua54_blit", lua54_blit},  /* 32 */
    {"_print_zenscii", "lua54__print_zenscii", lua54__print_zenscii},  /* 33 */
    {"_printh", "lua54__printh", lua54__printh},  /* 34 */
    {"cursor", "lua54_cursor", lua54_cursor},  /* 35 */
    {"color", "lua54_color", lua54_color},  /* 36 */
    {"pal", "lua54_pal", lua54_pal},  /* 37 */
    {"palt", "lua54_palt", lua54_palt},  /* 38 */
    /* ---- audio ---- */
    {"note", "lua54_play_note", lua54_play_note},  /* 39 */
    {"sfx", "lua54_play_track", lua54_play_track},  /* 40 */
    {"music", "lua54_play_music", lua54_play_music},  /* 41 */
    /* ---- pod, files and fetches ---- */
    {"pod", "lua54_stringify", lua54_stringify},  /* 42 */
    {"_pod", "lua54_stringify", lua54_stringify},  /* 43 */
    {"unpod", "lua54_destringify", lua54_destringify},  /* 44 */
    {"create_delta", "lua54_create_diff", lua54_create_diff},  /* 45 */
    {"apply_delta", "lua54_apply_diff", lua54_apply_diff},  /* 46 */
    {"fetch", "lua54_fetch_local", lua54_fetch_local},  /* 47 */
    {"store", "lua54_store_local", lua54_store_local},  /* 48 */
    {"_fetch_local", "lua54_fetch_local", lua54_fetch_local},  /* 49 */
    {"_store_local", "lua54_store_local", lua54_store_local},  /* 50 */
    {"_cache_store", "lua54_cache_store", lua54_cache_store},  /* 51 */
    {"_cache_fetch", "lua54_cache_fetch", lua54_cache_fetch},  /* 52 */
    {"_fetch_anywhen", "lua54_fetch_anywhen", lua54_fetch_anywhen},  /* 53 */
    {"_fetch_remote", "lua54_fetch_remote", lua54_fetch_remote},  /* 54 */
    {"_fetch_remote_result", "lua54_fetch_remote_result", lua54_fetch_remote_result},  /* 55 */
    {"_fetch_metadata_from_file", "lua54_fetch_metadata", lua54_fetch_metadata},  /* 56 */
    {"_store_metadata_str_to_file", "lua54_store_metadata_str", lua54_store_metadata_str},  /* 57 */
    {"_ls", "lua54_list_files", lua54_list_files},  /* 58 */
    {"_mkdir", "lua54_mkdir", lua54_mkdir},  /* 59 */
    {"_fstat", "lua54_fstat", lua54_fstat},  /* 60 */
    {"_fullpath", "lua54_resolve_filename", lua54_resolve_filename},  /* 61 */
    {"ls", "lua54_list_files", lua54_list_files},  /* 62 */
    {"mkdir", "lua54_mkdir", lua54_mkdir},  /* 63 */
    {"fstat", "lua54_fstat", lua54_fstat},  /* 64 */
    {"fullpath", "lua54_resolve_filename", lua54_resolve_filename},  /* 65 */
    {"cp", "lua54__fcopy", lua54__fcopy},  /* 66 */
    {"_fcopy", "lua54__fcopy", lua54__fcopy},  /* 67 */
    {"_fdelete", "lua54__fdelete", lua54__fdelete},  /* 68 */
    /* ---- processes and messages ---- */
    {"pid", "lua54_pid", lua54_pid},  /* 69 */
    {"_send_message", "lua54_send_message", lua54_send_message},  /* 70 */
    {"send_message", "lua54_send_message", lua54_send_message},  /* 71 */
    {"_read_message", "lua54__read_message", lua54__read_message},  /* 72 */
    /* ---- strings ---- */
    {"chr", "lua54_chr", lua54_chr},  /* 73 */
    {"ord", "lua54_ord", lua54_ord},  /* 74 */
    {"tokenoid", "lua54_tokenoid", lua54_tokenoid},  /* 75 */
    /* ---- math ---- */
    {"rnd", "lua54_rnd", lua54_rnd},  /* 76 */
    {"srand", "lua54_srand", lua54_srand},  /* 77 */
    {"abs", "lua54_abs", lua54_abs},  /* 78 */
    {"sgn", "lua54_sgn", lua54_sgn},  /* 79 */
    {"max", "lua54_max", lua54_max},  /* 80 */
    {"min", "lua54_min", lua54_min},  /* 81 */
    {"mid", "lua54_mid", lua54_mid},  /* 82 */
    {"sqrt", "lua54_sqrt", lua54_sqrt},  /* 83 */
    {"cos", "lua54_cos", lua54_cos},  /* 84 */
    {"sin", "lua54_sin", lua54_sin},  /* 85 */
    {"atan2", "lua54_atan2", lua54_atan2},  /* 86 */
    {"flr", "lua54_flr", lua54_flr},  /* 87 */
    {"ceil", "lua54_ceil", lua54_ceil},  /* 88 */
    /* ---- typed arrays and sprite cells ---- */
    {"userdata", "lua54_userdata", lua54_userdata},  /* 89 */
    {"vec", "lua54_vec", lua54_vec},  /* 90 */
    {"get", "lua54_get", lua54_get},  /* 91 */
    {"set", "lua54_set", lua54_set},  /* 92 */
    /* ---- frames ---- */
    {"_flip", "lua54_flip", lua54_flip},  /* 93 */
    {"flip", "lua54_flip", lua54_flip},  /* 94 */
    /* ---- strings ---- */
    {"split", "lua54_split", lua54_split},  /* 95 */
    /* ---- userland clipboard ---- */
    {"_get_userland_clipboard_text", "lua54_get_userland_clipboard_text", lua54_get_userland_clipboard_text},  /* 96 */
    {"_set_userland_clipboard_text", "lua54_set_userland_clipboard_text", lua54_set_userland_clipboard_text},  /* 97 */
    /* ---- process control ---- */
    {"_yielded_to_escape_slice", "lua54_yielded_to_escape_slice", lua54_yielded_to_escape_slice},  /* 98 */
    {"_create_process_from_code", "lua54__create_process_from_code", lua54__create_process_from_code},  /* 99 */
    {"_run_process_slice", "lua54__run_process_slice", lua54__run_process_slice},  /* 100 */
    {"_kill_process", "lua54__kill_process", lua54__kill_process},  /* 101 */
    {"_close_process_host_resources", "lua54__close_process_host_resources", lua54__close_process_host_resources},  /* 102 */
    {"_halt", "lua54__halt", lua54__halt},  /* 103 */
    /* ---- mounts ---- */
    {"_mount", "lua54_mount", lua54_mount},  /* 104 */
    {"mount", "lua54_mount", lua54_mount},  /* 105 */
    /* ---- draw target ---- */
    {"_set_draw_target", "lua54__set_draw_target", lua54__set_draw_target},  /* 106 */
    /* ---- working folder and paths ---- */
    {"_pwd", "lua54_get_process_pwd", lua54_get_process_pwd},  /* 107 */
    {"_cd", "lua54_set_process_pwd", lua54_set_process_pwd},  /* 108 */
    {"pwd", "lua54_get_process_pwd", lua54_get_process_pwd},  /* 109 */
    {"cd", "lua54_set_process_pwd", lua54_set_process_pwd},  /* 110 */
    {"_normalise_userland_path", "lua54_normalise_userland_path", lua54_normalise_userland_path},  /* 111 */
    {"norm", "lua54_normalise_userland_path_debug", lua54_normalise_userland_path_debug},  /* 112 */
    {"_is_well_formed_bbs_path", "lua54_is_well_formed_bbs_path", lua54_is_well_formed_bbs_path},  /* 113 */
    /* ---- load ---- */
    {"load", "luaB_load0", luaB_load0},  /* 114 */
    /* ---- process video ---- */
    {"_blit_process_video", "lua54__blit_process_video", lua54__blit_process_video},  /* 115 */
    /* ---- process state ---- */
    {"_process_state", "lua54__process_state", lua54__process_state},  /* 116 */
    {"_get_process_display_size", "lua54__get_process_display_size", lua54__get_process_display_size},  /* 117 */
    {"_get_process_list", "lua54__get_process_list", lua54__get_process_list},  /* 118 */
    /* ---- settings and signals ---- */
    {"_apply_system_settings", "lua54__apply_system_settings", lua54__apply_system_settings},  /* 119 */
    {"_signal", "lua54__signal", lua54__signal},  /* 120 */
    {"_warp_mouse", "lua54__warp_mouse", lua54__warp_mouse},  /* 121 */
    /* ---- sprite slots and memory mapping ---- */
    {"_set_spr", "lua54__set_spr", lua54__set_spr},  /* 122 */
    {"_map_ram", "lua54__map_ram", lua54__map_ram},  /* 123 */
    {"_unmap_ram", "lua54__unmap_ram_by_userdata", lua54__unmap_ram_by_userdata},  /* 124 */
    /* ---- buttons ---- */
    {"_update_buttons", "lua54__update_buttons", lua54__update_buttons},  /* 125 */
    /* ---- host window ---- */
    {"_set_host_window_icon", "lua54__set_host_window_icon", lua54__set_host_window_icon},  /* 126 */
    {"_set_host_window_title", "lua54__set_host_window_title", lua54__set_host_window_title},  /* 127 */
    /* ---- strings ---- */
    {"_md5", "lua54__md5", lua54__md5},  /* 128 */
    {"_strindex", "lua54__strindex", lua54__strindex},  /* 129 */
    /* ---- buttons ---- */
    {"btn", "lua54_btn", lua54_btn},  /* 130 */
    {"btnp", "lua54_btnp", lua54_btnp},  /* 131 */
    /* ---- memory ---- */
    {"peek", "lua54_peek", lua54_peek},  /* 132 */
    {"poke", "lua54_poke", lua54_poke},  /* 133 */
    {"peek2", "lua54_peek2", lua54_peek2},  /* 134 */
    {"poke2", "lua54_poke2", lua54_poke2},  /* 135 */
    {"peek4", "lua54_peek4", lua54_peek4},  /* 136 */
    {"poke4", "lua54_poke4", lua54_poke4},  /* 137 */
    {"peek8", "lua54_peek8", lua54_peek8},  /* 138 */
    {"poke8", "lua54_poke8", lua54_poke8},  /* 139 */
    {"_ppeek", "lua54__ppeek", lua54__ppeek},  /* 140 */
    {"_ppeek4", "lua54__ppeek4", lua54__ppeek4},  /* 141 */
    {"memcpy", "lua54_memcpy", lua54_memcpy},  /* 142 */
    {"memset", "lua54_memset", lua54_memset},  /* 143 */
};

static_assert(sizeof api_table / sizeof api_table[0] == API_NUM_NAMES, "143 names");

extern "C" void api_add_c_functions(lua_State *L) {
    for (const api_entry &e : api_table) {
        lua_pushcclosure(L, e.fn, 0);
        lua_setglobal(L, e.name);
    }
}

/*
** The native functions of the script API built so far, each a Lua C
** function: it reads its arguments from the stack, pushes its results and
** returns their count. They act for the current process (cproc).
*/
#ifndef QUILLMAR_API_FUNCTIONS_H
#define QUILLMAR_API_FUNCTIONS_H

#include "text_load.h"

/* ---- processes and messages (api_process.cpp) ---- */
int lua54_pid(lua_State *L);
int lua54_send_message(lua_State *L);
int lua54__read_message(lua_State *L);
int lua54_flip(lua_State *L);
int lua54_yielded_to_escape_slice(lua_State *L);
int lua54__create_process_from_code(lua_State *L);
int lua54__run_process_slice(lua_State *L);
int lua54__kill_process(lua_State *L);
int lua54__close_process_host_resources(lua_State *L);
int lua54__halt(lua_State *L);
int lua54__process_state(lua_State *L);
int lua54__get_process_display_size(lua_State *L);
int lua54__get_process_list(lua_State *L);

/* ---- pod and deltas (api_pod.cpp) ---- */
int lua54_stringify(lua_State *L);
int lua54_destringify(lua_State *L);
int lua54_create_diff(lua_State *L);
int lua54_apply_diff(lua_State *L);

/* ---- reading and writing files and earlier versions (api_fetch.cpp, api_store.cpp) ---- */
int lua54_fetch_local(lua_State *L);
int lua54_store_local(lua_State *L);
int lua54_fetch_anywhen(lua_State *L);
int lua54_fetch_metadata(lua_State *L);
int lua54_store_metadata_str(lua_State *L);

/* ---- the download cache (api_cache.cpp) ---- */
int lua54_cache_store(lua_State *L);
int lua54_cache_fetch(lua_State *L);

/* ---- remote fetches (api_remote.cpp) ---- */
int lua54_fetch_remote(lua_State *L);
int lua54_fetch_remote_result(lua_State *L);

/* ---- the file system and paths (api_files.cpp) ---- */
int lua54_list_files(lua_State *L);
int lua54_mkdir(lua_State *L);
int lua54_fstat(lua_State *L);
int lua54_resolve_filename(lua_State *L);
int lua54__fcopy(lua_State *L);
int lua54__fdelete(lua_State *L);
int lua54_mount(lua_State *L);
int lua54_get_process_pwd(lua_State *L);
int lua54_set_process_pwd(lua_State *L);
int lua54_normalise_userland_path(lua_State *L);
int lua54_normalise_userland_path_debug(lua_State *L);
int lua54_is_well_formed_bbs_path(lua_State *L);

/* ---- draw state (api_draw_state_calls.cpp) ---- */
int lua54_camera(lua_State *L);
int lua54_clip(lua_State *L);
int lua54_cursor(lua_State *L);
int lua54_color(lua_State *L);
int lua54_fillp(lua_State *L);
int lua54__set_draw_target(lua_State *L);

/* ---- shapes (api_shapes.cpp) ---- */
int lua54_cls(lua_State *L);
int lua54_pset(lua_State *L);
int lua54_pget(lua_State *L);
int lua54_rectfill(lua_State *L);
int lua54_rect(lua_State *L);
int lua54_ovalfill(lua_State *L);
int lua54_circfill(lua_State *L);
int lua54_oval(lua_State *L);
int lua54_circ(lua_State *L);
int lua54_rrect(lua_State *L);
int lua54_rrectfill(lua_State *L);
int lua54_line(lua_State *L);

/* ---- palette and print (api_palette.cpp, api_print.cpp) ---- */
int lua54_pal(lua_State *L);
int lua54_palt(lua_State *L);
int lua54__print_zenscii(lua_State *L);

/* ---- sprite slots, flags, map cells, memory mapping (api_memmap.cpp) ---- */
int lua54__set_spr(lua_State *L);
int lua54_fset(lua_State *L);
int lua54_fget(lua_State *L);
int lua54_mset(lua_State *L);
int lua54_mget(lua_State *L);
int lua54__map_ram(lua_State *L);
int lua54__unmap_ram_by_userdata(lua_State *L);

/* ---- sprites, copies and textured lines (api_sprites.cpp, api_tlines.cpp) ---- */
int lua54_spr(lua_State *L);
int lua54_blit(lua_State *L);
int lua54__blit_process_video(lua_State *L);
int lua54_sspr(lua_State *L);
int lua54_draw_map(lua_State *L);
int lua54_tline3d(lua_State *L);
/* blit's body, which the arrays' blit method calls as well. */
extern "C" int lua54_blit_0(lua_State *L);

/* ---- elements of typed arrays (api_elements.cpp) ---- */
int lua54_get(lua_State *L);
int lua54_set(lua_State *L);
/* The bodies, which the arrays' get and set methods call as well. */
extern "C" int lua54_get_0(lua_State *L);
extern "C" int lua54_set_0(lua_State *L);

/* ---- host requests and debug output ---- */
int lua54__signal(lua_State *L);  /* api_signal.cpp */
int lua54__printh(lua_State *L);  /* api_printh.cpp */

/* ---- system state (api_stat.cpp, api_date.cpp) ---- */
int lua54_time(lua_State *L);
int lua54_stat(lua_State *L);
int lua54_date(lua_State *L);

/* ---- settings, the host window and the userland clipboard (api_host_window.cpp) ---- */
int lua54__apply_system_settings(lua_State *L);
int lua54__warp_mouse(lua_State *L);
int lua54__set_host_window_icon(lua_State *L);
int lua54__set_host_window_title(lua_State *L);
int lua54_get_userland_clipboard_text(lua_State *L);
int lua54_set_userland_clipboard_text(lua_State *L);

/* ---- memory and typed arrays (api_memory.cpp) ---- */
int lua54_peek(lua_State *L);
int lua54_poke(lua_State *L);
int lua54_peek2(lua_State *L);
int lua54_poke2(lua_State *L);
int lua54_peek4(lua_State *L);
int lua54_poke4(lua_State *L);
int lua54_peek8(lua_State *L);
int lua54_poke8(lua_State *L);
int lua54__ppeek(lua_State *L);
int lua54__ppeek4(lua_State *L);
int lua54_memcpy(lua_State *L);
int lua54_memset(lua_State *L);
int lua54_userdata(lua_State *L);
int lua54_vec(lua_State *L);

/* ---- buttons (api_buttons.cpp) ---- */
int lua54_btn(lua_State *L);
int lua54_btnp(lua_State *L);
int lua54__update_buttons(lua_State *L);

/* ---- strings (api_strings.cpp, api_tokenoid.cpp) ---- */
int lua54_chr(lua_State *L);
int lua54_ord(lua_State *L);
int lua54_split(lua_State *L);
int lua54_tokenoid(lua_State *L);
int lua54__md5(lua_State *L);
int lua54__strindex(lua_State *L);

/* ---- math (api_math.cpp) ---- */
int lua54_rnd(lua_State *L);
int lua54_srand(lua_State *L);
int lua54_abs(lua_State *L);
int lua54_sgn(lua_State *L);
int lua54_max(lua_State *L);
int lua54_min(lua_State *L);
int lua54_mid(lua_State *L);
int lua54_sqrt(lua_State *L);
int lua54_cos(lua_State *L);
int lua54_sin(lua_State *L);
int lua54_atan2(lua_State *L);
int lua54_flr(lua_State *L);
int lua54_ceil(lua_State *L);

/* ---- tables (api_tables.cpp) ---- */
int lua54_add(lua_State *L);
int lua54_deli(lua_State *L);
int lua54_del(lua_State *L);
int lua54_count(lua_State *L);
/* ---- audio (api_audio.cpp) ---- */
int lua54_play_note(lua_State *L);
int lua54_play_track(lua_State *L);
int lua54_play_music(lua_State *L);

#endif

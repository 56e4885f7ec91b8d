/*
** Game controllers and joysticks: one slot per attached device (the slot is
** the player number, used slots at the front), mapping files, and the 16
** button values of each player.
*/
#ifndef QUILLMAR_PLATFORM_CONTROLLERS_H
#define QUILLMAR_PLATFORM_CONTROLLERS_H

#include <stdint.h>

#include "sdl_seam.h"

inline constexpr int32_t MAX_CONTROLLERS = 32;
inline constexpr int32_t CONTROLLER_AXES = 32;
inline constexpr int32_t CONTROLLER_BUTTONS = 21;

/* A stick value reads as 0 until its axis has once been within this of the
   centre; beyond it, (|v| - this) / 88 is the button amount. */
inline constexpr int32_t AXIS_DEAD = 8192;

/* Mapping lines longer than this are not added. */
inline constexpr int32_t MAPPING_LINE_MAX = 1022;

struct metacon_rec {
    SDL_GameController *controller;
    SDL_Joystick *joystick;
    int32_t instance_id;
    uint32_t axis_validated[CONTROLLER_AXES];
    uint32_t button_validated;  // bit b: button b was seen released
    int32_t used;               // the slot holds a device
};

extern metacon_rec metacon[MAX_CONTROLLERS];
extern int codo_joystick_inited;

/* The built-in mappings, null-terminated. */
extern const char *const controller_db_mapping[];

/* Once per run: the built-in mappings, the mapping files, every device. */
void codo_joystick_init(void);

/* Closes every device and clears the slots, if initialised. */
void codo_joystick_exit(void);

/* Opens SDL device 'index' into the first free slot, unless a used slot
   already holds that device. */
void connect_joystick(int32_t index);

/* Closes and clears the used slot holding instance 'id' (with 'raw_only',
   only a slot without a game controller). Returns 1 when one was found. */
int disconnect_joystick(int32_t id, int raw_only);

/* Moves the used slots to the front in their order. */
void repack_metacon(void);

/* Reads both sdl_controllers.txt files, creating the application-data one
   when missing. */
void add_sdl_controllers(void);

int32_t codo_count_joysticks(void);
int32_t codo_count_joystick_buttons(int32_t player);
void codo_get_joystick_axes(int32_t player, int32_t axis_a, int32_t axis_b, int32_t *out_a, int32_t *out_b);
void codo_get_joystick(int32_t player, int32_t *x, int32_t *y, uint32_t *buttons);

/* Forgets every slot and the once-per-run flags without closing (tests). */
void controllers_reset(void);

#endif

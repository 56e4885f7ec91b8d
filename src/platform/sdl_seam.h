/*
** The host program's only calls into SDL. The window, input, controller,
** audio and host-service layers call SDL through the record `sdl`, whose
** entries call SDL itself unless a test has swapped them; the tick clock and
** the delay are plain functions. Everything above it is testable without a
** display.
*/
#ifndef QUILLMAR_PLATFORM_SDL_SEAM_H
#define QUILLMAR_PLATFORM_SDL_SEAM_H

#include <SDL.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* SDL's millisecond tick count (valid before SDL is started; 64 bits, so it
   does not wrap). */
uint64_t sdl_seam_ticks(void);

/* Sleeps the calling thread for 'ms' milliseconds. */
void sdl_seam_delay(uint32_t ms);

#ifdef __cplusplus
}
#endif

/* Every other SDL call of the host, one entry each, named after the call. */
struct sdl_seam_rec {
    /* start, hints, errors, memory */
    SDL_bool (*SetHint)(const char *name, const char *value);
    int (*InitSubSystem)(Uint32 flags);
    const char *(*GetError)(void);
    void (*free)(void *mem);

    /* events, keyboard and pointer */
    int (*PollEvent)(SDL_Event *event);
    const Uint8 *(*GetKeyboardState)(int *numkeys);
    int (*ShowCursor)(int toggle);
    Uint32 (*GetMouseState)(int *x, int *y);
    void (*WarpMouseInWindow)(SDL_Window *window, int x, int y);
    SDL_Keycode (*GetKeyFromScancode)(SDL_Scancode scancode);
    const char *(*GetKeyName)(SDL_Keycode key);

    /* window */
    SDL_Window *(*CreateWindow)(const char *title, int x, int y, int w, int h, Uint32 flags);
    void (*DestroyWindow)(SDL_Window *window);
    void (*GetWindowPosition)(SDL_Window *window, int *x, int *y);
    void (*GetWindowSize)(SDL_Window *window, int *w, int *h);
    int (*GetDesktopDisplayMode)(int display, SDL_DisplayMode *mode);
    void (*RaiseWindow)(SDL_Window *window);
    void (*MinimizeWindow)(SDL_Window *window);
    void (*SetWindowTitle)(SDL_Window *window, const char *title);
    void (*SetWindowIcon)(SDL_Window *window, SDL_Surface *icon);
    SDL_Surface *(*CreateRGBSurfaceFrom)(void *pixels, int w, int h, int depth, int pitch, Uint32 rmask,
                                         Uint32 gmask, Uint32 bmask, Uint32 amask);
    void (*FreeSurface)(SDL_Surface *surface);

    /* renderer and texture */
    SDL_Renderer *(*CreateRenderer)(SDL_Window *window, int index, Uint32 flags);
    void (*DestroyRenderer)(SDL_Renderer *renderer);
    int (*GetRendererOutputSize)(SDL_Renderer *renderer, int *w, int *h);
    int (*RenderSetScale)(SDL_Renderer *renderer, float sx, float sy);
    int (*SetRenderDrawColor)(SDL_Renderer *renderer, Uint8 r, Uint8 g, Uint8 b, Uint8 a);
    int (*SetRenderDrawBlendMode)(SDL_Renderer *renderer, SDL_BlendMode mode);
    int (*RenderClear)(SDL_Renderer *renderer);
    int (*RenderFillRect)(SDL_Renderer *renderer, const SDL_Rect *rect);
    int (*RenderCopy)(SDL_Renderer *renderer, SDL_Texture *texture, const SDL_Rect *src, const SDL_Rect *dst);
    void (*RenderPresent)(SDL_Renderer *renderer);
    SDL_Texture *(*CreateTexture)(SDL_Renderer *renderer, Uint32 format, int access, int w, int h);
    void (*DestroyTexture)(SDL_Texture *texture);
    int (*UpdateTexture)(SDL_Texture *texture, const SDL_Rect *rect, const void *pixels, int pitch);

    /* audio device */
    SDL_AudioDeviceID (*OpenAudioDevice)(const char *device, int iscapture, const SDL_AudioSpec *desired,
                                         SDL_AudioSpec *obtained, int allowed_changes);
    void (*PauseAudioDevice)(SDL_AudioDeviceID dev, int pause_on);
    void (*CloseAudioDevice)(SDL_AudioDeviceID dev);
    void (*LockAudioDevice)(SDL_AudioDeviceID dev);
    void (*UnlockAudioDevice)(SDL_AudioDeviceID dev);

    /* clipboard */
    char *(*GetClipboardText)(void);
    int (*SetClipboardText)(const char *text);

    /* threads */
    SDL_Thread *(*CreateThread)(SDL_ThreadFunction fn, const char *name, void *data);
    void (*DetachThread)(SDL_Thread *thread);

    /* joysticks and game controllers */
    int (*GameControllerAddMapping)(const char *mapping);
    int (*NumJoysticks)(void);
    SDL_bool (*IsGameController)(int index);
    SDL_GameController *(*GameControllerOpen)(int index);
    void (*GameControllerClose)(SDL_GameController *controller);
    const char *(*GameControllerName)(SDL_GameController *controller);
    char *(*GameControllerMapping)(SDL_GameController *controller);
    SDL_Joystick *(*GameControllerGetJoystick)(SDL_GameController *controller);
    SDL_bool (*GameControllerGetAttached)(SDL_GameController *controller);
    Sint16 (*GameControllerGetAxis)(SDL_GameController *controller, SDL_GameControllerAxis axis);
    Uint8 (*GameControllerGetButton)(SDL_GameController *controller, SDL_GameControllerButton button);
    SDL_JoystickID (*JoystickGetDeviceInstanceID)(int index);
    SDL_Joystick *(*JoystickOpen)(int index);
    void (*JoystickClose)(SDL_Joystick *joystick);
    const char *(*JoystickName)(SDL_Joystick *joystick);
    SDL_JoystickID (*JoystickInstanceID)(SDL_Joystick *joystick);
    int (*JoystickNumAxes)(SDL_Joystick *joystick);
    int (*JoystickNumButtons)(SDL_Joystick *joystick);
    int (*JoystickNumBalls)(SDL_Joystick *joystick);
    Sint16 (*JoystickGetAxis)(SDL_Joystick *joystick, int axis);
    Uint8 (*JoystickGetButton)(SDL_Joystick *joystick, int button);
};

/* The entries in use; tests swap some and restore them from sdl_default. */
extern sdl_seam_rec sdl;

/* Every entry calling SDL. */
extern const sdl_seam_rec sdl_default;

#endif

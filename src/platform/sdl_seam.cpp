// The SDL seam: the tick clock, the delay, and the record of SDL calls.
#include "sdl_seam.h"

extern "C" uint64_t sdl_seam_ticks(void) { return SDL_GetTicks64(); }

extern "C" void sdl_seam_delay(uint32_t ms) { SDL_Delay(ms); }

namespace {

// SDL_CreateThread is a macro over a call that takes the C library's thread
// start and end functions; this wrapper keeps the seam's entry plain.
SDL_Thread *create_thread(SDL_ThreadFunction fn, const char *name, void *data) {
    return SDL_CreateThread(fn, name, data);
}

}  // namespace

const sdl_seam_rec sdl_default = {
    SDL_SetHint,
    SDL_InitSubSystem,
    SDL_GetError,
    SDL_free,

    SDL_PollEvent,
    SDL_GetKeyboardState,
    SDL_ShowCursor,
    SDL_GetMouseState,
    SDL_WarpMouseInWindow,
    SDL_GetKeyFromScancode,
    SDL_GetKeyName,

    SDL_CreateWindow,
    SDL_DestroyWindow,
    SDL_GetWindowPosition,
    SDL_GetWindowSize,
    SDL_GetDesktopDisplayMode,
    SDL_RaiseWindow,
    SDL_MinimizeWindow,
    SDL_SetWindowTitle,
    SDL_SetWindowIcon,
    SDL_CreateRGBSurfaceFrom,
    SDL_FreeSurface,

    SDL_CreateRenderer,
    SDL_DestroyRenderer,
    SDL_GetRendererOutputSize,
    SDL_RenderSetScale,
    SDL_SetRenderDrawColor,
    SDL_SetRenderDrawBlendMode,
    SDL_RenderClear,
    SDL_RenderFillRect,
    SDL_RenderCopy,
    SDL_RenderPresent,
    SDL_CreateTexture,
    SDL_DestroyTexture,
    SDL_UpdateTexture,

    SDL_OpenAudioDevice,
    SDL_PauseAudioDevice,
    SDL_CloseAudioDevice,
    SDL_LockAudioDevice,
    SDL_UnlockAudioDevice,

    SDL_GetClipboardText,
    SDL_SetClipboardText,

    create_thread,
    SDL_DetachThread,

    SDL_GameControllerAddMapping,
    SDL_NumJoysticks,
    SDL_IsGameController,
    SDL_GameControllerOpen,
    SDL_GameControllerClose,
    SDL_GameControllerName,
    SDL_GameControllerMapping,
    SDL_GameControllerGetJoystick,
    SDL_GameControllerGetAttached,
    SDL_GameControllerGetAxis,
    SDL_GameControllerGetButton,
    SDL_JoystickGetDeviceInstanceID,
    SDL_JoystickOpen,
    SDL_JoystickClose,
    SDL_JoystickName,
    SDL_JoystickInstanceID,
    SDL_JoystickNumAxes,
    SDL_JoystickNumButtons,
    SDL_JoystickNumBalls,
    SDL_JoystickGetAxis,
    SDL_JoystickGetButton,
};

sdl_seam_rec sdl = sdl_default;

// The mixer's state queries ahead of the engine: nothing plays, so no
// channel has a state, no channel is active and no music runs. Kept apart
// from the audio bracket's pending bodies so that tests which fake the
// bracket can link these.
#include "mixer_queries.h"

extern "C" int32_t mudo_get_channel_state(int32_t channel, int32_t field, int16_t *dest) {
    (void)channel; (void)field; (void)dest;
    return -1;
}

extern "C" int32_t mudo_get_active_channels(void) { return 0; }

extern "C" int32_t mudo_get_music_state(int32_t which) { return which == 0 ? -1 : 0; }

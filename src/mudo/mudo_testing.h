// For tests and benchmarks only: the engine's records and a full
// re-initialisation, as if mudo_init ran for the first time.
#pragma once

#include "engine.h"
#include "mixer_state.h"

void mudo_reinit_for_tests();

// The same end state, reached by clearing only the memory pages and buffers
// the engine's own writers marked since the last call (fuzzing: a write
// made into the record from outside is not seen). Node buffers are left
// known zero rather than unknown, which saves clears and changes no output.
void mudo_reinit_changed_for_tests();

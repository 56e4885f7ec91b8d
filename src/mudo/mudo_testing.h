// For tests and benchmarks only: the engine's records and a full
// re-initialisation, as if mudo_init ran for the first time.
#pragma once

#include "engine.h"
#include "mixer_state.h"

void mudo_reinit_for_tests();

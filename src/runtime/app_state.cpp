// The settings and application-state records.
#include "app_state.h"

config_rec config;
app_state_rec app;

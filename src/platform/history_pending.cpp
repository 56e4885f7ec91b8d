// The history store's session calls as start-up and the exit path make
// them, empty until the store exists (it replaces this file).
#include "history_session.h"

void anywhen_open() {}

void anywhen_close() {}

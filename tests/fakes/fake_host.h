// The fake host the runtime tests link in place of the platform: it records
// the log and every hook call, and lets a test set the clocks.
#pragma once

#include <string>
#include <vector>

#include "host.h"

namespace fake_host {

// Clears every recording and setting.
void reset();

// The raw log texts, in order.
const std::vector<std::string> &log();

// The whole log joined, for substring checks.
std::string log_text();

}  // namespace fake_host

// The fake host: recordings behind the runtime's host seam.
#include "fake_host.h"

namespace {
std::vector<std::string> g_log;
}

extern "C" void codo_debug(const char *text) { g_log.emplace_back(text ? text : ""); }

namespace fake_host {

void reset() { g_log.clear(); }

const std::vector<std::string> &log() { return g_log; }

std::string log_text() {
    std::string all;
    for (const auto &l : g_log) all += l;
    return all;
}

}  // namespace fake_host

/*
** The file system's surroundings: clocks, the running process, the
** exclusive process, the application-data folder, folder-name letters.
*/
#include "env.h"

#include <chrono>
#include <cstdlib>

#include "rng.h"

namespace {

bool g_clock_fixed = false;  /* true: g_clock_ms is the time */
int64_t g_clock_ms = 0;      /* fixed monotonic time, ms */
bool g_utc_fixed = false;    /* true: g_utc_s is the time */
int64_t g_utc_s = 0;         /* fixed wall time, s since the epoch */

const char *(*g_pwd_source)() = nullptr;
uint64_t (*g_exclusive_source)() = nullptr;

std::string g_appdata;  /* empty until first asked or set */

rng_state_rec g_names;   /* folder-name generator */
bool g_names_seeded = false;

const std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();

}  // namespace

int64_t pdisk_now_ms() {
    if (g_clock_fixed) return g_clock_ms;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_start)
        .count();
}

int64_t pdisk_utc_now_s() {
    if (g_utc_fixed) return g_utc_s;
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void pdisk_set_clock_ms(int64_t ms) {
    g_clock_fixed = true;
    g_clock_ms = ms;
}

void pdisk_advance_clock_ms(int64_t ms) {
    if (!g_clock_fixed) pdisk_set_clock_ms(pdisk_now_ms());
    g_clock_ms += ms;
}

void pdisk_set_utc_s(int64_t s) {
    g_utc_fixed = true;
    g_utc_s = s;
}

void pdisk_use_host_clocks() {
    g_clock_fixed = false;
    g_utc_fixed = false;
}

const char *pdisk_current_pwd() {
    const char *pwd = g_pwd_source ? g_pwd_source() : nullptr;
    return pwd ? pwd : "/";
}

void pdisk_set_pwd_source(const char *(*source)()) { g_pwd_source = source; }

uint64_t pdisk_exclusive_pid() { return g_exclusive_source ? g_exclusive_source() : 0; }

void pdisk_set_exclusive_source(uint64_t (*source)()) { g_exclusive_source = source; }

const std::string &pdisk_appdata_folder() {
    if (g_appdata.empty()) {
        const char *xdg = std::getenv("XDG_DATA_HOME");
        const char *home = std::getenv("HOME");
        std::string base;
        if (xdg && *xdg)
            base = xdg;
        else
            base = std::string(home ? home : "") + "/.local/share";
        if (base.empty() || base.back() != '/') base += '/';
        g_appdata = base + "quillmar/";
    }
    return g_appdata;
}

void pdisk_set_appdata_folder(const std::string &folder) {
    g_appdata = folder;
    if (g_appdata.empty() || g_appdata.back() != '/') g_appdata += '/';
}

void pdisk_seed_folder_names(uint64_t seed) {
    xoshiro256ss_seed(&g_names, seed);
    g_names_seeded = true;
}

char pdisk_next_folder_letter() {
    if (!g_names_seeded) {
        const uint64_t t = static_cast<uint64_t>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count());
        pdisk_seed_folder_names(t);
    }
    const uint64_t r = xoshiro256ss(&g_names) >> 32;
    return static_cast<char>('a' + ((r & 0xFFFF) * 26 >> 16));
}

// A recording allocator for the scripting core's tests: logs every call it
// gets, counts blocks under their nominal size through an 8-byte header (as
// the host's allocator does), and refuses requests on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
#include "vm_hooks.h"
}

// One call of the allocator, as Lua made it.
struct AllocCall {
    bool had_block;       // ptr was non-null
    size_t osize;         // old size, or the type tag of a new object
    size_t nsize;         // requested size, 0 for a free
    int fail_hard;        // 1 on the retry after an emergency collection
    size_t account_size;  // nominal size of the block after the call
    bool granted;         // the allocator returned a block (frees: true)
};

// Which requests the allocator refuses.
enum class Refuse {
    nothing,      // grant everything the host can give
    first_tries,  // refuse each first try that grows or creates a block
    nth_request,  // refuse request number `nth` (and its retry)
    over_budget,  // refuse any request taking the account above `budget`
};

struct RecordingAlloc {
    static constexpr size_t header = 8;  // bytes before each block

    int64_t account_bytes = 0;   // sum of the live blocks' header values
    int64_t real_bytes = 0;      // sum of the live blocks' real sizes, as Lua states them
    int64_t peak_account = 0;    // highest account_bytes seen
    bool recording = true;       // append calls to `log`
    std::vector<AllocCall> log;  // the calls, in order
    int bad_frees = 0;           // frees that passed a non-zero fail_hard or account_size

    Refuse refuse = Refuse::nothing;
    long nth = 0;             // for nth_request: 1-based index among counted requests
    int64_t budget = 0;       // for over_budget: the highest account_bytes granted
    long requests = 0;        // non-free requests seen since refusing was armed (retries excluded)
    long refusals = 0;        // requests refused, retries included
    long final_refusals = 0;  // refusals of calls made with fail_hard 1

    // Starts counting requests afresh under a new rule.
    void arm(Refuse how) {
        refuse = how;
        requests = 0;
        refusals = 0;
        final_refusals = 0;
        last_refused = {};
    }

    // Calls in the log made while `from` <= index.
    std::vector<AllocCall> since(size_t from) const {
        return std::vector<AllocCall>(log.begin() + static_cast<long>(from), log.end());
    }

    static void *alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                       size_t account_size) {
        return static_cast<RecordingAlloc *>(ud)->call(ptr, osize, nsize, fail_hard, account_size);
    }

   private:
    struct Refused {
        bool valid = false;
        void *ptr = nullptr;
        size_t osize = 0, nsize = 0, account_size = 0;
    } last_refused;

    static uint64_t header_of(void *ptr) {
        uint64_t v;
        std::memcpy(&v, static_cast<char *>(ptr) - header, sizeof v);
        return v;
    }

    bool is_retry(void *ptr, size_t osize, size_t nsize, int fail_hard, size_t account_size) const {
        return fail_hard == 1 && last_refused.valid && last_refused.ptr == ptr &&
               last_refused.osize == osize && last_refused.nsize == nsize &&
               last_refused.account_size == account_size;
    }

    bool should_refuse(void *ptr, size_t osize, size_t nsize, int fail_hard, size_t account_size) {
        bool retry = is_retry(ptr, osize, nsize, fail_hard, account_size);
        if (!retry) requests++;
        switch (refuse) {
            case Refuse::nothing:
                return false;
            case Refuse::first_tries:
                return fail_hard == 0 && (ptr == nullptr || nsize > osize);
            case Refuse::nth_request:
                return retry || requests == nth;
            case Refuse::over_budget: {
                int64_t old = ptr ? static_cast<int64_t>(header_of(ptr)) : 0;
                return account_bytes - old + static_cast<int64_t>(account_size) > budget &&
                       static_cast<int64_t>(account_size) > old;
            }
        }
        return false;
    }

    void *call(void *ptr, size_t osize, size_t nsize, int fail_hard, size_t account_size) {
        if (nsize == 0) {
            if (fail_hard != 0 || account_size != 0) bad_frees++;
            if (recording)
                log.push_back({ptr != nullptr, osize, nsize, fail_hard, account_size, true});
            if (ptr) {
                account_bytes -= static_cast<int64_t>(header_of(ptr));
                real_bytes -= static_cast<int64_t>(osize);
                std::free(static_cast<char *>(ptr) - header);
            }
            return nullptr;
        }
        if (should_refuse(ptr, osize, nsize, fail_hard, account_size)) {
            refusals++;
            if (fail_hard) final_refusals++;
            last_refused = {fail_hard == 0, ptr, osize, nsize, account_size};
            if (recording)
                log.push_back({ptr != nullptr, osize, nsize, fail_hard, account_size, false});
            return nullptr;
        }
        last_refused = {};
        uint64_t old_account = ptr ? header_of(ptr) : 0;
        char *base = ptr ? static_cast<char *>(ptr) - header : nullptr;
        char *block = static_cast<char *>(std::realloc(base, nsize + header));
        if (!block) return nullptr;
        uint64_t acc = account_size;
        std::memcpy(block, &acc, sizeof acc);
        account_bytes += static_cast<int64_t>(acc) - static_cast<int64_t>(old_account);
        real_bytes += static_cast<int64_t>(nsize) - (ptr ? static_cast<int64_t>(osize) : 0);
        if (account_bytes > peak_account) peak_account = account_bytes;
        if (recording) log.push_back({ptr != nullptr, osize, nsize, fail_hard, account_size, true});
        return block + header;
    }
};

// A Lua state over a RecordingAlloc, with or without the library set.
class RecordedState {
   public:
    explicit RecordedState(bool open_libs = true) {
        L_ = lua_newstate(RecordingAlloc::alloc, &rec);
        if (open_libs && L_) luaL_openlibs(L_);
        cpu_cycles = 0;
        cpu_cycles_max = 0x7FFFFFFF;
        cpu_superyielding = 0;
    }
    ~RecordedState() {
        if (L_) lua_close(L_);
    }
    RecordedState(const RecordedState &) = delete;
    RecordedState &operator=(const RecordedState &) = delete;

    lua_State *L() const { return L_; }

    // Closes the state now; the allocator stays readable.
    void close() {
        if (L_) lua_close(L_);
        L_ = nullptr;
    }

    // Compiles and runs `src` in protected mode, leaving nothing on the stack.
    // Returns the status; `text` receives the error message of a failed run,
    // or the chunk's first result as a string ("" when it is not one).
    int run(const std::string &src, std::string *text = nullptr) {
        cpu_cycles = 0;
        cpu_cycles_max = 0x7FFFFFFF;
        int top = lua_gettop(L_);
        int st = luaL_loadbufferx(L_, src.data(), src.size(), "=test", "t");
        if (st == LUA_OK) st = lua_pcall(L_, 0, 1, 0);
        if (text) {
            const char *m = lua_tostring(L_, -1);
            *text = m ? m : (st == LUA_OK ? "" : "(non-string error)");
        }
        lua_settop(L_, top);
        return st;
    }

    // Like run(), but resumes the chunk as a coroutine of the main thread with
    // `budget` fresh cycles at every budget yield until it ends.
    int run_sliced(const std::string &src, int32_t budget, std::string *text = nullptr) {
        int top = lua_gettop(L_);
        int st = luaL_loadbufferx(L_, src.data(), src.size(), "=test", "t");
        while (st == LUA_OK || st == LUA_YIELD) {
            int nres = 0;
            cpu_cycles = 0;
            cpu_cycles_max = budget;
            cpu_superyielding = 0;
            st = lua_resume(L_, nullptr, 0, &nres);
            if (st == LUA_OK) {
                if (nres == 0) lua_pushnil(L_);
                break;
            }
            if (st == LUA_YIELD) lua_pop(L_, nres);
        }
        cpu_cycles = 0;
        cpu_cycles_max = 0x7FFFFFFF;
        if (text) {
            const char *m = lua_tostring(L_, -1);
            *text = m ? m : (st == LUA_OK ? "" : "(non-string error)");
        }
        lua_settop(L_, top);
        return st;
    }

    // Full collections until the count stops falling.
    void collect() {
        for (int i = 0; i < 4; i++) lua_gc(L_, LUA_GCCOLLECT);
    }

    RecordingAlloc rec;

   private:
    lua_State *L_ = nullptr;
};

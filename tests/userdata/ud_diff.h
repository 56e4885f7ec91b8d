// Differential runs of the typed-array methods against the plain reference:
// random arrays and calls (edge-heavy arguments, aliasing, explicit outputs)
// run on real arrays in a Lua state and on the reference's copies, then
// results, return values and charges are compared. Shared by the tests and
// fuzz_ud_ops.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ud_reference.h"

extern "C" {
#include "lua.h"
}

namespace uddiff {

// A source of choices: random numbers in the tests, input bytes when fuzzing.
class chooser {
  public:
    virtual ~chooser() = default;
    virtual uint32_t next() = 0;
    uint32_t below(uint32_t n) { return n ? next() % n : 0; }

    // Whether arguments may ask for the largest amounts of work (up to the
    // bounds of one call's walk); fuzzing turns it off to keep inputs fast.
    bool large_work = true;
};

// The arrays of a run, kept both as Lua arrays and as the reference's copies.
class runner {
  public:
    explicit runner(lua_State *L) : L_(L) {}

    // Makes the Lua arrays for 'arrays' (replacing any earlier ones).
    void load(const std::vector<udref::array> &arrays);

    // Runs USERDATA[name](args...) both ways; "" when everything agrees,
    // else what differs.
    std::string check(const std::string &name, const std::vector<udref::value> &args);

    const std::vector<udref::array> &state() const { return state_; }

  private:
    lua_State *L_;
    std::vector<udref::array> state_;
};

// Random arrays of 1 to 300 elements, mostly of one element type, with an
// i32 index array and f64 arrays of matrix shapes among them.
std::vector<udref::array> random_arrays(chooser &c);

// A random call over 'state'.
void random_call(chooser &c, const std::vector<udref::array> &state, std::string &name,
                 std::vector<udref::value> &args);

// The call as text, for failure messages.
std::string describe(const std::string &name, const std::vector<udref::value> &args);

}  // namespace uddiff

// ApiTest: RuntimeTest with the real script API in every process. Snippets
// started with start() get a local out(...) that prints one line with
// _printh: the count of values, a colon, then tostring of each value joined
// by commas ("2:true,0.0"; "0:" for no values). output() returns every line
// printed so far.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "api_registry.h"
#include "runtime_fixture.h"

class ApiTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ::testing::internal::CaptureStdout();
    }

    // What was printed since the last output() goes to standard error: it
    // holds the messages of failed expectations.
    void TearDown() override {
        std::fputs(::testing::internal::GetCapturedStdout().c_str(), stderr);
        RuntimeTest::TearDown();
    }

    // The prelude stays on the snippet's first line, so line numbers in
    // messages are the snippet's own.
    static std::string with_prelude(const std::string &code) {
        return "local function out(...) local n, t = select('#', ...), {} "
               "for i = 1, n do t[i] = tostring((select(i, ...))) end "
               "_printh(n .. ':' .. table.concat(t, ',')) end " +
               code;
    }

    // A process running 'code' after the prelude; null when it did not load.
    process_rec *start(const std::string &code, const std::string &name = "p",
                       const std::string &prog = "/t/p.lua") {
        return spawn(with_prelude(code), name, prog);
    }

    // Every line printed on standard output since the test began.
    std::vector<std::string> output() {
        std::istringstream text(::testing::internal::GetCapturedStdout());
        ::testing::internal::CaptureStdout();
        for (std::string line; std::getline(text, line);) lines_.push_back(line);
        return lines_;
    }

  private:
    std::vector<std::string> lines_;
};

using Lines = std::vector<std::string>;

// Lua defining two globals: armed(v, f) returns v with f queued to run as a
// finalizer inside the next allocation (the collector then steps at every
// one), so that a call given armed(...) as its last argument meets f in its
// first allocation; settled() puts the collector back and tells whether f
// has run without error (running what is pending first).
inline constexpr const char *kArmedFinalizer =
    "local fin_ran = false "
    "function armed(v, f) fin_ran = false local seen, on = 0, false "
    "local mt = {__gc = function() if not on then seen = seen + 1 elseif not fin_ran then fin_ran = pcall(f) end end} "
    "for i = 1, 50 do setmetatable({}, mt) end collectgarbage('incremental', 1, 1000, 1) "
    "repeat collectgarbage('step', 0) until seen > 0 collectgarbage('incremental', 1, 100, 1) on = true return v end "
    "function settled() collectgarbage() collectgarbage('incremental', 200, 100, 13) return fin_ran end ";

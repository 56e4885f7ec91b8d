// A Lua state with typed arrays for pod tests: t_pod(v, flags) writes a
// value with stringify_object; read() runs destringify_object_ex from C and
// leaves what it pushed in the globals V1 and V2; show() renders any value
// as one canonical line (keys sorted, floats marked by tostring's ".0").
#pragma once

#include <string>

#include "pod_reader.h"
#include "pod_writer.h"
#include "ud_fixture.h"

class PodTest : public UdTest {
  protected:
    PodTest();

    // The pod text of the Lua expression 'expr' written with 'flags', or
    // "error: <message>" when the writer raises.
    std::string write(const std::string &expr, int flags = 0);

    // Reads 'text' (its NUL after it); checks that the stack grew by exactly
    // the count returned, moves the values to V1 and V2 and returns it.
    int read(const std::string &text, int metadata = 0);

    // "fail", show(V1), or show(V1) .. " meta " .. show(V2).
    std::string read_show(const std::string &text, int metadata = 0);

    // show(<expr>).
    std::string show(const std::string &expr);
};

// Little-endian u32 as four bytes.
std::string le32(uint32_t v);

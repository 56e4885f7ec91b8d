// Fuzz target: byte-buffer operation sequences against the reference model
// (fields, bytes up to the capacity, growth, totals).
#include <cstdio>
#include <cstdlib>

#include "../tests/runtime/buffer_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    buffer_model::Runner runner;
    const std::string error = runner.run(data, size);
    if (!error.empty()) {
        fprintf(stderr, "buffer model mismatch: %s\n", error.c_str());
        abort();
    }
    return 0;
}

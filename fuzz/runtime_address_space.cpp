// Operation sequences on a process's address space against the
// byte-at-a-time model: values, costs, page flags, own pages and mappings
// must agree.
#include <cstdio>
#include <cstdlib>

#include "address_space_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string err = address_space_ops::run(data, size);
    if (!err.empty()) {
        std::fprintf(stderr, "address space differs from the model: %s\n", err.c_str());
        std::abort();
    }
    return 0;
}

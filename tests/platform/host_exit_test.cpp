// The one way out: standard output and the log are flushed, the status kept.
#include <cstdio>

#include "host.h"
#include "host_exit.h"
#include "platform_fixture.h"

namespace {

using namespace platform_test;

class HostExit : public TempHome {};

TEST_F(HostExit, FlushesStandardOutputAndTheLogAndEndsWithTheStatus) {
    EXPECT_EXIT(
        {
            dup2(2, 1);  // standard output into the checked stream
            setvbuf(stdout, nullptr, _IOFBF, 4096);
            printf("still buffered");
            codo_debug("last words\n");
            host_exit(7);
        },
        ::testing::ExitedWithCode(7), "still buffered");
    EXPECT_NE(read_file(log_path()).find("] last words\n"), std::string::npos);
}

}  // namespace

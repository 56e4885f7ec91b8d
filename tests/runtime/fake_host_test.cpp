// The fake host records the log in order.
#include <gtest/gtest.h>

#include "fake_host.h"

TEST(FakeHost, RecordsLogLinesInOrder) {
    fake_host::reset();
    codo_debug("one\n");
    codo_debug("two\n");
    ASSERT_EQ(fake_host::log().size(), 2u);
    EXPECT_EQ(fake_host::log_text(), "one\ntwo\n");
}

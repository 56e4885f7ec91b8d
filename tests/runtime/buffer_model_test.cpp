// Random operation sequences on a byte buffer agree with the reference model:
// fields, every byte up to the capacity, growth and totals.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "buffer_model.h"
#include "fake_host.h"

TEST(BufferModel, RandomOperationSequencesMatchTheModel) {
    fake_host::reset();
    std::mt19937 rng(20240611);
    for (int run = 0; run < 400; run++) {
        std::vector<uint8_t> ops(1 + rng() % 1500);
        for (auto &b : ops) b = static_cast<uint8_t>(rng());
        buffer_model::Runner runner;
        const std::string error = runner.run(ops.data(), ops.size());
        ASSERT_EQ(error, "") << "run " << run;
    }
    EXPECT_EQ(fake_host::log_text(), "");  // nothing was refused
}

TEST(BufferModel, TextHeavySequencesMatchTheModel) {
    // Bytes drawn from line breaks, hex digits and escape triggers, so lines,
    // hex reads and escapes meet real content.
    const uint8_t alphabet[] = {'\n', '\r', 'a', 'F', '0', '9', ']', '"', '\\', 0x7F, 0xE9, 0, 1};
    std::mt19937 rng(7);
    for (int run = 0; run < 200; run++) {
        std::vector<uint8_t> ops(1 + rng() % 1200);
        for (size_t i = 0; i < ops.size(); i++)
            ops[i] = i % 3 == 0 ? static_cast<uint8_t>(rng()) : alphabet[rng() % sizeof alphabet];
        buffer_model::Runner runner;
        const std::string error = runner.run(ops.data(), ops.size());
        ASSERT_EQ(error, "") << "run " << run;
    }
}

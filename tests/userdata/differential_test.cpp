// Seeded random calls of every operation the reference knows, on random
// arrays, against the plain reference, once per instruction-set level.
#include <random>

#include "ud_diff.h"
#include "ud_fixture.h"
#include "ud_ops.h"

namespace {

class random_chooser : public uddiff::chooser {
  public:
    explicit random_chooser(uint32_t seed) : gen_(seed) {}
    uint32_t next() override { return uint32_t(gen_()); }

  private:
    std::mt19937 gen_;
};

class Differential : public UdTest, public ::testing::WithParamInterface<int> {};

TEST_P(Differential, TwentyThousandCallsAgreeWithTheReference) {
    const int level = GetParam();
    if (level > ud_simd_level_available()) GTEST_SKIP() << "the processor lacks this level";
    {
        ud_force_simd_level(level);
        random_chooser c(20240 + uint32_t(level));
        uddiff::runner r(L());
        int failures = 0;
        for (int i = 0; i < 20000 && failures < 5; i++) {
            if (i % 40 == 0) r.load(uddiff::random_arrays(c));
            std::string name;
            std::vector<udref::value> args;
            uddiff::random_call(c, r.state(), name, args);
            std::string err = r.check(name, args);
            if (!err.empty()) {
                ADD_FAILURE() << "level " << level << " call " << i << ": " << err;
                failures++;
                r.load(uddiff::random_arrays(c));
            }
        }
    }
    ud_force_simd_level(-1);
}

// Levels: the x86-64 baseline, AVX2, AVX-512.
INSTANTIATE_TEST_SUITE_P(Levels, Differential, ::testing::Values(0, 1, 2));

// The vector units are built with BMI2: a processor without it used to get
// them anyway and fault on their first BMI2 instruction.
TEST(KernelLevel, EachLevelNeedsAllTheFeaturesItsKernelsAreBuiltWith) {
    struct Case {
        bool avx2, avx512, bmi2;
        int level;
    } cases[] = {
        {false, false, false, 0}, {false, false, true, 0}, {true, false, false, 0},
        {true, false, true, 1},   {true, true, false, 0},  {true, true, true, 2},
        {false, true, true, 0},
    };
    for (const Case &c : cases) {
        ud_cpu_features f;
        f.avx2 = c.avx2;
        f.avx512 = c.avx512;
        f.bmi2 = c.bmi2;
        EXPECT_EQ(ud_simd_level_for(f), c.level) << c.avx2 << c.avx512 << c.bmi2;
    }
}

}  // namespace

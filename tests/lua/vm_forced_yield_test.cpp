// Forced-yield differential: every script of the corpus prints the same
// output whether it runs with an unlimited budget, with a budget spent before
// every instruction (each resume runs one instruction), or with small budgets.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lua_harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> corpus(const char *subdir) {
    std::vector<std::string> names;
    fs::path dir = fs::path(VM_CORPUS_DIR) / subdir;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".lua")
            names.push_back((fs::path(subdir) / e.path().filename()).string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_script(const std::string &name) {
    std::ifstream in(fs::path(VM_CORPUS_DIR) / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string describe(const RunResult &r) {
    return r.status == LUA_OK ? r.output : r.output + "error: " + r.error + "\n";
}

// Runs `src` unlimited, then under each forced-yield mode, and compares.
void expect_same_under_forced_yields(const std::string &src) {
    RunResult reference;
    {
        LuaHarness h;
        reference = h.run(src);
    }
    ASSERT_EQ(reference.status, LUA_OK) << reference.error;
    ASSERT_FALSE(reference.output.empty());
    EXPECT_EQ(reference.resumes, 1);
    {
        LuaHarness h;
        RunResult stepped = h.run_one_instruction_per_resume(src);
        EXPECT_EQ(describe(stepped), describe(reference)) << "one instruction per resume";
        EXPECT_GT(stepped.resumes, 100);
    }
    for (int32_t budget : {1, 7, 60, 999}) {
        LuaHarness h;
        RunResult small = h.run(src, budget);
        EXPECT_EQ(describe(small), describe(reference)) << "budget " << budget;
    }
}

class ForcedYield : public ::testing::TestWithParam<std::string> {};

TEST_P(ForcedYield, ScriptPrintsTheSameAsWithAnUnlimitedBudget) {
    expect_same_under_forced_yields(read_script(GetParam()));
}

std::string test_name(const ::testing::TestParamInfo<std::string> &info) {
    std::string n = fs::path(info.param).stem().string();
    std::replace_if(n.begin(), n.end(), [](char c) { return !isalnum((unsigned char)c); }, '_');
    return n;
}

INSTANTIATE_TEST_SUITE_P(StandardLua, ForcedYield, ::testing::ValuesIn(corpus(".")), test_name);

// Scripts in the dialect's own syntax; they wait until the parser accepts it.
class ForcedYieldDialect : public ::testing::TestWithParam<std::string> {};

TEST_P(ForcedYieldDialect, ScriptPrintsTheSameAsWithAnUnlimitedBudget) {
    std::string src = read_script(GetParam());
    {
        LuaHarness probe;
        std::string err = probe.compile(src);
        if (!err.empty()) GTEST_SKIP() << "the dialect's syntax does not compile yet: " << err;
    }
    expect_same_under_forced_yields(src);
}

INSTANTIATE_TEST_SUITE_P(Dialect, ForcedYieldDialect, ::testing::ValuesIn(corpus("dialect")),
                         test_name);

}  // namespace

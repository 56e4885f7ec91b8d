// Every standard Lua source compiles in the dialect to what stock Lua makes
// of it: the two compilers' dumps of each corpus file must be identical once
// the dialect's opcodes from OP_LEN on are moved back by the four peek
// opcodes inserted before it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Dump {
    int status = -1;           // exit status of the dumper
    std::vector<std::string> lines;
};

Dump run_dumper(const char *exe, const fs::path &file) {
    Dump d;
    std::string cmd = std::string("'") + exe + "' '" + file.string() + "'";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return d;
    std::string all;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) all.append(buf, n);
    int st = pclose(p);
    d.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) d.lines.push_back(line);
    return d;
}

constexpr int kFirstPeek = 52;   // OP_PEEK in the dialect
constexpr int kPeekCount = 4;    // OP_PEEK .. OP_PEEK8

// The dialect's instruction line with its opcode numbered as stock Lua's;
// a peek opcode (which no standard source can produce) is kept as "PEEK".
std::string to_stock_numbering(const std::string &line) {
    int pc, op;
    char rest[256];
    if (std::sscanf(line.c_str(), "%d op %d %255[^\n]", &pc, &op, rest) != 3) return line;
    std::string opname;
    if (op >= kFirstPeek + kPeekCount)
        opname = std::to_string(op - kPeekCount);
    else if (op >= kFirstPeek)
        opname = "PEEK" + std::to_string(op);
    else
        opname = std::to_string(op);
    return std::to_string(pc) + " op " + opname + " " + rest;
}

std::vector<fs::path> corpus() {
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(COMPAT_CORPUS_DIR))
        if (e.path().extension() == ".lua") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

class LuaCompat : public testing::TestWithParam<fs::path> {};

}  // namespace

TEST(LuaCompatCorpus, HoldsSources) { EXPECT_GE(corpus().size(), 8u); }

TEST_P(LuaCompat, DialectCompilesTheStandardSourceLikeStockLua) {
    const fs::path &file = GetParam();
    Dump stock = run_dumper(BCDUMP_STOCK, file);
    Dump dialect = run_dumper(BCDUMP_DIALECT, file);
    ASSERT_EQ(stock.status, 0) << "stock Lua does not compile " << file;
    ASSERT_EQ(dialect.status, 0) << "the dialect does not compile " << file;
    ASSERT_GT(stock.lines.size(), 1u);
    size_t n = std::max(stock.lines.size(), dialect.lines.size());
    for (size_t i = 0; i < n; i++) {
        std::string s = i < stock.lines.size() ? stock.lines[i] : "(end)";
        std::string d = i < dialect.lines.size() ? to_stock_numbering(dialect.lines[i]) : "(end)";
        ASSERT_EQ(d, s) << file.filename() << ": first difference at dump line " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, LuaCompat, testing::ValuesIn(corpus()),
                         [](const testing::TestParamInfo<fs::path> &info) {
                             std::string name = info.param.stem().string();
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

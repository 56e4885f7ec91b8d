// Typed-array operations against numpy (ufuncs with out=, sorts, take),
// single-threaded OpenBLAS (512 x 512 matmul) and plain C++ in this process
// (memcpy, memset, a std::pow loop, a naive matmul, std::sort). Our side is
// the real method called from C on a prepared Lua state with an unlimited
// budget. Operands come from one seed and are written once as raw files the
// numpy side reads; outputs are explicit arrays. Three interleaved rounds;
// each figure is the median of every timed run of its side. Prints
// "typed <figure> ratio: R (goal G)" per figure (R = our time over the
// baseline's) and last "typed worst goal margin: M", the largest R / G.
// Exits 1 when the numpy side fails, when matmul differs from the naive loop
// or when a sort differs from std::sort.
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "vm_hooks.h"
}
#include "typed_ud.h"

extern char **environ;

namespace {

inline constexpr int kRuns = 7;     // timed runs per side, figure and round
inline constexpr int kRounds = 3;   // interleaved rounds
inline constexpr size_t kBytes = 16u << 20;
inline constexpr int kMat = 512;

[[noreturn]] void die(const std::string &what) {
    std::fprintf(stderr, "bench_typed: %s\n", what.c_str());
    std::exit(1);
}

void *bench_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

lua_State *L;

// An array kept in the registry, with its header.
struct arr {
    int ref = LUA_NOREF;
    typed_ud_rec *rec = nullptr;
    uint8_t *data() const { return ud_elements(rec); }
};

arr make(int code, int dims, uint32_t w, uint32_t h) {
    arr a;
    a.rec = create_userdata_shaped(L, code, dims, w, h, 1);
    if (!a.rec) die("cannot make an array");
    a.ref = luaL_ref(L, LUA_REGISTRYINDEX);
    return a;
}

// One argument of a method call.
struct arg {
    enum { array, integer, number, boolean, nil } kind;
    const arr *a = nullptr;
    double v = 0;
};
arg A(const arr &a) { return {arg::array, &a}; }
arg I(double v) { return {arg::integer, nullptr, v}; }
arg N(double v) { return {arg::number, nullptr, v}; }
arg T() { return {arg::boolean, nullptr, 1}; }
arg Nil() { return {arg::nil}; }

// USERDATA[method](args...), its results dropped.
void call(const char *method, std::initializer_list<arg> args) {
    lua_getglobal(L, "USERDATA");
    lua_getfield(L, -1, method);
    lua_remove(L, -2);
    for (const arg &x : args) {
        switch (x.kind) {
        case arg::array: lua_rawgeti(L, LUA_REGISTRYINDEX, x.a->ref); break;
        case arg::integer: lua_pushinteger(L, lua_Integer(x.v)); break;
        case arg::number: lua_pushnumber(L, x.v); break;
        case arg::boolean: lua_pushboolean(L, 1); break;
        case arg::nil: lua_pushnil(L); break;
        }
    }
    cpu_cycles = 0;
    cpu_cycles_max = 0x7fffffff;
    if (lua_pcall(L, int(args.size()), 0, 0) != LUA_OK) die(std::string(method) + " raised");
}

double seconds(const std::function<void()> &fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct figure {
    std::string name;
    double goal;
    std::function<void()> prepare;  // untimed, before every run (may be empty)
    std::function<void()> ours;
    std::function<void()> cpp;      // the C++ baseline; empty: numpy's figure of this name
    std::function<void()> after;    // untimed, after every run of ours (may be empty)
    std::vector<double> our_times, base_times;
};

void write_file(const std::string &path, const void *p, size_t n) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(p, 1, n, f) != n || std::fclose(f) != 0) die("cannot write " + path);
}

// Runs the numpy side once; adds its run times to the figures of the same name.
void run_numpy(const std::string &dir, std::map<std::string, std::vector<double>> &times) {
    int pipefd[2];
    if (pipe(pipefd) != 0) die("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    posix_spawn_file_actions_addclose(&fa, pipefd[0]);
    std::vector<std::string> env_s;
    for (char **e = environ; *e; e++)
        if (std::strncmp(*e, "OPENBLAS_NUM_THREADS=", 21) && std::strncmp(*e, "OMP_NUM_THREADS=", 16)) env_s.push_back(*e);
    env_s.push_back("OPENBLAS_NUM_THREADS=1");
    env_s.push_back("OMP_NUM_THREADS=1");
    std::vector<char *> envp;
    for (auto &s : env_s) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string runs = std::to_string(kRuns);
    std::string script = NUMPY_SIDE;
    char python[] = "/usr/bin/python3";
    char *argv[] = {python, script.data(), const_cast<char *>(dir.c_str()), runs.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, python, &fa, nullptr, argv, envp.data()) != 0) die("cannot start /usr/bin/python3");
    close(pipefd[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("the numpy side failed: " + out);
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        char *p = line.data();
        char *name = strtok(p, " ");
        if (!name) continue;
        for (char *t; (t = strtok(nullptr, " "));) times[name].push_back(std::strtod(t, nullptr));
    }
}

void naive_matmul(double *o, const double *a, const double *b, int n) {
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            double s = 0.0;
            for (int k = 0; k < n; k++) s += a[y * n + k] * b[k * n + x];
            o[y * n + x] = s;
        }
}

}  // namespace

int main() {
    // One CPU for both sides (the numpy side inherits it).
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    sched_setaffinity(0, sizeof set, &set);

    L = lua_newstate(bench_alloc, nullptr);
    add_userdata_metatable_functions(L);

    // Operands: 16 MiB per array, from one seed; divisors never zero.
    const int codes[] = {UTYPE_U8, UTYPE_I16, UTYPE_I32, UTYPE_I64, UTYPE_F64};
    const char *names[] = {"u8", "i16", "i32", "i64", "f64"};
    std::map<std::string, arr> a, b, out;
    std::mt19937_64 gen(2024);
    char tmpl[] = "/tmp/bench_typed_XXXXXX";
    if (!mkdtemp(tmpl)) die("mkdtemp");
    const std::string dir = tmpl;
    for (int t = 0; t < 5; t++) {
        const uint32_t n = uint32_t(kBytes / utype_size(codes[t]));
        a[names[t]] = make(codes[t], 1, n, 1);
        b[names[t]] = make(codes[t], 1, n, 1);
        out[names[t]] = make(codes[t], 1, n, 1);
        for (uint32_t i = 0; i < n; i++) {
            if (codes[t] == UTYPE_F64) {
                double x = double(gen() % 2000000) / 1000.0 + 0.5, y = double(gen() % 2000000) / 1000.0 + 0.5;
                if (gen() & 1) y = -y;
                std::memcpy(a[names[t]].data() + 8 * i, &x, 8);
                std::memcpy(b[names[t]].data() + 8 * i, &y, 8);
            } else {
                const size_t s = utype_size(codes[t]);
                uint64_t x = gen(), y = codes[t] == UTYPE_U8 ? gen() : (gen() % 1000 + 1);
                if (codes[t] != UTYPE_U8 && (gen() & 1)) y = uint64_t(-int64_t(y));
                std::memcpy(a[names[t]].data() + s * i, &x, s);
                std::memcpy(b[names[t]].data() + s * i, &y, s);
            }
        }
        write_file(dir + "/a_" + names[t] + ".bin", a[names[t]].data(), kBytes);
        write_file(dir + "/b_" + names[t] + ".bin", b[names[t]].data(), kBytes);
    }
    // take: 2M in-range indices into a 2M-element source.
    const uint32_t nidx = 2u << 20;
    arr idx = make(UTYPE_I32, 1, nidx, 1), src = make(UTYPE_F64, 1, nidx, 1), take_out = make(UTYPE_F64, 1, nidx, 1);
    std::memcpy(src.data(), a["f64"].data(), size_t(nidx) * 8);
    for (uint32_t i = 0; i < nidx; i++) {
        int32_t v = int32_t(gen() % nidx);
        std::memcpy(idx.data() + 4 * i, &v, 4);
    }
    write_file(dir + "/idx.bin", idx.data(), size_t(nidx) * 4);
    // 512 x 512 matrices.
    arr ma = make(UTYPE_F64, 2, kMat, kMat), mb = make(UTYPE_F64, 2, kMat, kMat), mo = make(UTYPE_F64, 2, kMat, kMat);
    for (int i = 0; i < kMat * kMat; i++) {
        double x = double(int(gen() % 2001) - 1000) / 97.0, y = double(int(gen() % 2001) - 1000) / 89.0;
        std::memcpy(ma.data() + 8 * i, &x, 8);
        std::memcpy(mb.data() + 8 * i, &y, 8);
    }
    write_file(dir + "/ma.bin", ma.data(), size_t(kMat) * kMat * 8);
    write_file(dir + "/mb.bin", mb.data(), size_t(kMat) * kMat * 8);
    std::vector<double> naive(size_t(kMat) * kMat);
    // Sorts: a fresh copy of the operand before every run.
    arr s_i32 = make(UTYPE_I32, 1, uint32_t(kBytes / 4), 1), s_f64 = make(UTYPE_F64, 1, uint32_t(kBytes / 8), 1),
        s_u8 = make(UTYPE_U8, 1, uint32_t(kBytes), 1), r_i32 = make(UTYPE_I32, 2, 4, uint32_t(kBytes / 16)),
        r_f64 = make(UTYPE_F64, 2, 16, uint32_t(kBytes / 128));
    std::vector<int32_t> std_copy(kBytes / 4);
    std::vector<double> pow_out(kBytes / 8);
    std::vector<uint8_t> raw(kBytes);

    auto refill = [&](const arr &dst, const arr &from) { return [&dst, &from] { std::memcpy(dst.data(), from.data(), kBytes); }; };
    auto gc = [] { lua_gc(L, LUA_GCCOLLECT); };
    std::vector<figure> figs;
    for (const char *t : names)
        figs.push_back({std::string("add_") + t, 1.0, {}, [&, t] { call("add", {A(a[t]), A(b[t]), A(out[t])}); }, {}, {}, {}, {}});
    figs.push_back({"add_scalar_fresh_u8", 1.0, {}, [&] { call("__add", {A(a["u8"]), I(3)}); }, {}, gc, {}, {}});
    figs.push_back({"add_scalar_fresh_f64", 1.0, {}, [&] { call("__add", {A(a["f64"]), N(3.0)}); }, {}, gc, {}, {}});
    figs.push_back({"mul_i64", 1.0, {}, [&] { call("mul", {A(a["i64"]), A(b["i64"]), A(out["i64"])}); }, {}, {}, {}, {}});
    figs.push_back({"div_f64", 1.0, {}, [&] { call("div", {A(a["f64"]), A(b["f64"]), A(out["f64"])}); }, {}, {}, {}, {}});
    figs.push_back({"idiv_i32", 0.5, {}, [&] { call("idiv", {A(a["i32"]), A(b["i32"]), A(out["i32"])}); }, {}, {}, {}, {}});
    figs.push_back({"idiv_scalar_i32", 1.0, {}, [&] { call("idiv", {A(a["i32"]), I(7), A(out["i32"])}); }, {}, {}, {}, {}});
    figs.push_back({"mod_f64", 1.0, {}, [&] { call("mod", {A(a["f64"]), A(b["f64"]), A(out["f64"])}); }, {}, {}, {}, {}});
    figs.push_back({"pow2_f64", 1.0, {}, [&] { call("pow", {A(a["f64"]), I(2), A(out["f64"])}); }, {}, {}, {}, {}});
    figs.push_back({"band_u8", 1.0, {}, [&] { call("band", {A(a["u8"]), A(b["u8"]), A(out["u8"])}); }, {}, {}, {}, {}});
    figs.push_back({"shl_scalar_i32", 1.0, {}, [&] { call("shl", {A(a["i32"]), I(3), A(out["i32"])}); }, {}, {}, {}, {}});
    figs.push_back({"max_f64", 1.0, {}, [&] { call("max", {A(a["f64"]), A(b["f64"]), A(out["f64"])}); }, {}, {}, {}, {}});
    figs.push_back({"abs_i32", 1.0, {}, [&] { call("abs", {A(a["i32"]), Nil(), A(out["i32"])}); }, {}, {}, {}, {}});
    figs.push_back({"fill_i32", 1.0, {}, [&] { call("copy", {A(out["i32"]), I(7), T()}); }, {}, {}, {}, {}});
    figs.push_back({"prefix_i32", 1.0, refill(out["i32"], a["i32"]), [&] { call("add", {A(out["i32"]), A(out["i32"]), T(), I(0), I(1)}); }, {}, {}, {}, {}});
    figs.push_back({"take_f64", 1.0, {}, [&] { call("take", {A(src), A(idx), A(take_out)}); }, {}, {}, {}, {}});
    figs.push_back({"copy_f64", 1.05, {}, [&] { call("copy", {A(out["f64"]), A(a["f64"]), T()}); },
                    [&] { std::memcpy(raw.data(), a["f64"].data(), kBytes); }, {}, {}, {}});
    figs.push_back({"clear_u8", 1.05, {}, [&] { call("clear", {A(out["u8"])}); }, [&] { std::memset(raw.data(), 0, kBytes); }, {}, {}, {}});
    figs.push_back({"pow_f64", 1.05, {}, [&] { call("pow", {A(a["f64"]), N(1.7), A(out["f64"])}); },
                    [&] {
                        const double *x = reinterpret_cast<const double *>(a["f64"].data());
                        for (size_t i = 0; i < pow_out.size(); i++) pow_out[i] = std::pow(x[i], 1.7);
                    },
                    {}, {}, {}});
    figs.push_back({"matmul_512", 1.3, {}, [&] { call("matmul", {A(ma), A(mb), A(mo)}); }, {}, {}, {}, {}});
    figs.push_back({"matmul_naive_512", 0.1, {}, [&] { call("matmul", {A(ma), A(mb), A(mo)}); },
                    [&] { naive_matmul(naive.data(), reinterpret_cast<const double *>(ma.data()), reinterpret_cast<const double *>(mb.data()), kMat); },
                    {}, {}, {}});
    figs.push_back({"sort_i32", 1.0, refill(s_i32, a["i32"]), [&] { call("sort", {A(s_i32)}); }, {}, {}, {}, {}});
    figs.push_back({"sort_i32_std", 1.0, [&] { std::memcpy(s_i32.data(), a["i32"].data(), kBytes); std::memcpy(std_copy.data(), a["i32"].data(), kBytes); },
                    [&] { call("sort", {A(s_i32)}); }, [&] { std::sort(std_copy.begin(), std_copy.end()); }, {}, {}, {}});
    figs.push_back({"sort_f64", 1.0, refill(s_f64, a["f64"]), [&] { call("sort", {A(s_f64)}); }, {}, {}, {}, {}});
    figs.push_back({"sort_u8", 1.0, refill(s_u8, a["u8"]), [&] { call("sort", {A(s_u8)}); }, {}, {}, {}, {}});
    figs.push_back({"sort_rows_i32", 1.0, refill(r_i32, a["i32"]), [&] { call("sort", {A(r_i32), I(1)}); }, {}, {}, {}, {}});
    figs.push_back({"sort_rows_f64", 1.0, refill(r_f64, a["f64"]), [&] { call("sort", {A(r_f64), I(3)}); }, {}, {}, {}, {}});

    std::map<std::string, std::vector<double>> numpy_times;
    for (int round = 0; round < kRounds; round++) {
        for (figure &f : figs) {
            for (int r = 0; r <= kRuns; r++) {
                if (f.prepare) f.prepare();
                double t = seconds(f.ours);
                if (f.after) f.after();
                if (r > 0) f.our_times.push_back(t);  // the first run warms caches and pages
                if (f.cpp) {
                    if (f.prepare) f.prepare();
                    double c = seconds(f.cpp);
                    if (r > 0) f.base_times.push_back(c);
                }
            }
        }
        run_numpy(dir, numpy_times);
    }

    // Results must be the reference's: matmul the naive loop's bits, sorts std::sort's order.
    for (auto [dst, from, key] : {std::tuple{&s_i32, &a["i32"], 0}, std::tuple{&s_f64, &a["f64"], 0},
                                  std::tuple{&s_u8, &a["u8"], 0}, std::tuple{&r_i32, &a["i32"], 1},
                                  std::tuple{&r_f64, &a["f64"], 3}}) {
        std::memcpy(dst->data(), from->data(), kBytes);
        call("sort", {A(*dst), I(key)});
    }
    if (std::memcmp(mo.data(), naive.data(), naive.size() * 8) != 0) die("matmul differs from the naive loop");
    {
        std::vector<int32_t> v(kBytes / 4);
        std::memcpy(v.data(), a["i32"].data(), kBytes);
        std::sort(v.begin(), v.end());
        if (std::memcmp(v.data(), s_i32.data(), kBytes) != 0) die("sort_i32 differs from std::sort");
        std::vector<double> d(kBytes / 8);
        std::memcpy(d.data(), a["f64"].data(), kBytes);
        std::sort(d.begin(), d.end());
        if (std::memcmp(d.data(), s_f64.data(), kBytes) != 0) die("sort_f64 differs from std::sort");
        std::vector<uint8_t> u(a["u8"].data(), a["u8"].data() + kBytes);
        std::sort(u.begin(), u.end());
        if (std::memcmp(u.data(), s_u8.data(), kBytes) != 0) die("sort_u8 differs from std::sort");
        std::vector<int32_t> keys;
        for (size_t r = 0; r < kBytes / 16; r++) {
            int32_t k;
            std::memcpy(&k, a["i32"].data() + r * 16 + 4, 4);
            keys.push_back(k);
        }
        std::sort(keys.begin(), keys.end());
        for (size_t r = 0; r < keys.size(); r++) {
            int32_t k;
            std::memcpy(&k, r_i32.data() + r * 16 + 4, 4);
            if (k != keys[r]) die("sort_rows_i32 differs from std::sort");
        }
        std::vector<double> fkeys;
        for (size_t r = 0; r < kBytes / 128; r++) {
            double k;
            std::memcpy(&k, a["f64"].data() + r * 128 + 24, 8);
            fkeys.push_back(k);
        }
        std::sort(fkeys.begin(), fkeys.end());
        for (size_t r = 0; r < fkeys.size(); r++) {
            double k;
            std::memcpy(&k, r_f64.data() + r * 128 + 24, 8);
            if (k != fkeys[r]) die("sort_rows_f64 differs from std::sort");
        }
    }

    double worst = 0;
    for (figure &f : figs) {
        const std::vector<double> &base = f.cpp ? f.base_times : numpy_times[f.name];
        if (base.empty()) die("no baseline times for " + f.name);
        const double r = median(f.our_times) / median(base);
        std::printf("typed %s ratio: %.3f (goal %.3g)\n", f.name.c_str(), r, f.goal);
        if (f.name == "pow_f64" && !numpy_times["pow_f64"].empty())
            std::printf("typed pow_f64 numpy ratio (for information): %.3f\n", median(f.our_times) / median(numpy_times["pow_f64"]));
        worst = std::max(worst, r / f.goal);
    }
    std::printf("typed worst goal margin: %.3f\n", worst);
    for (const char *t : names) {
        std::remove((dir + "/a_" + t + ".bin").c_str());
        std::remove((dir + "/b_" + t + ".bin").c_str());
    }
    for (const char *f : {"/idx.bin", "/ma.bin", "/mb.bin"}) std::remove((dir + f).c_str());
    rmdir(dir.c_str());
    return 0;
}

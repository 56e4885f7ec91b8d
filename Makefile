# Set-up and build entry points. `make run` and `make test` do everything from a
# fresh Debian 12 machine: packages, the Lua source, configure, build, run.
NPROC := $(shell nproc)
CMAKE_GEN := -G Ninja
ASAN_DIR := build/asan
RELEASE_DIR := build/release
FUZZ_DIR := build/fuzz
TSAN_DIR := build/tsan
LEVELS_DIR := build/levels

.PHONY: all deps test release run bench bench-vm bench-runtime bench-vfs bench-pod bench-boot bench-window bench-draw fuzz fuzz-smoke clean bench-typed bench-net bench-text bench-script bench-audio bench-captures bench-gfx bench-budget bench-sweep

all: release

deps:
	@tools/install-deps
	@third_party/lua/fetch

$(ASAN_DIR)/build.ninja: | deps
	cmake -S . -B $(ASAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUILLMAR_SANITIZE=ON

$(RELEASE_DIR)/build.ninja: | deps
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQUILLMAR_BENCH=ON

test: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(NPROC)
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(NPROC)
	cmake -S . -B $(TSAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUILLMAR_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(NPROC) --target mudo_concurrency_test
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_DIR)/tests/mudo/mudo_concurrency_test
	# The processor-specific units' tests on emulated processors without
	# AVX-512 and without AVX2, in a tree without sanitizers.
	cmake -S . -B $(LEVELS_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQUILLMAR_CPU_LEVELS=ON
	cmake --build $(LEVELS_DIR) -j $(NPROC) --target cpu-level-tests
	cd $(LEVELS_DIR) && ctest --output-on-failure -j $(NPROC) -L cpu_levels

release: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(NPROC)

# In a window; closing it or Ctrl-C ends the program with status 0.
run: release
	$(RELEASE_DIR)/quillmar

bench: release
	@for b in $(RELEASE_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

bench-vm: release
	$(RELEASE_DIR)/bench/bench_vm

bench-runtime: release
	$(RELEASE_DIR)/bench/bench_runtime

# Exec to the first frame, and the frame loop's own cost; the last two lines
# are the ratios.
bench-boot: release
	$(RELEASE_DIR)/bench/bench_boot

bench-vfs: release
	$(RELEASE_DIR)/bench/bench_vfs

# Presenting frames in the window against SDL's own upload; the last line is
# the worst goal margin.
bench-window: release
	$(RELEASE_DIR)/bench/bench_window

bench-pod: release
	$(RELEASE_DIR)/bench/bench_pod

# Typed-array operations against numpy and plain C++; the last line is the
# worst goal margin.
bench-typed: release
	$(RELEASE_DIR)/bench/bench_typed

# The drawing calls against their cheapest bindings; the last line is the margin.
bench-draw: release
	$(RELEASE_DIR)/bench/bench_draw

bench-gfx: release
	$(RELEASE_DIR)/bench/bench_gfx

# The script API's calls against their baselines; the last line is the worst
# ratio / goal.
bench-script: release
	$(RELEASE_DIR)/bench/bench_script

# TCP, UDP and one HTTP body against raw sockets and libcurl; the last line is
# the worst goal margin.
bench-net: release
	$(RELEASE_DIR)/bench/bench_net

# Real-time factors of whole mixes and the engine's ratios; the last line is
# the worst goal margin.
bench-audio: release
	$(RELEASE_DIR)/bench/bench_audio

# The printer and the image cartridge writer against plain baselines.
bench-text: release
	$(RELEASE_DIR)/bench/bench_text

# GIF recording and screenshots; the last line is the worst goal margin.
bench-captures: release
	$(RELEASE_DIR)/bench/bench_captures

# A whole frame's budget of each call against one frame of real time (goal: margin <= 1).
bench-budget: release
	$(RELEASE_DIR)/bench/bench_budget

# Every function a process receives over hostile arguments, its real time per
# frame of charge against a plain loop's; the last line is the worst ratio
# (goal: at most 16).
bench-sweep: release
	$(RELEASE_DIR)/bench/bench_sweep

fuzz: deps
	cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUILLMAR_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(NPROC)

# Each fuzz target over its seed corpus, then briefly on its own (CI).
fuzz-smoke: fuzz
	@tools/fuzz-smoke $(FUZZ_DIR)

clean:
	rm -rf build/asan build/release build/fuzz build/tsan build/levels

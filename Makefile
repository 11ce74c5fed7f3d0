# Front door: `make run` and `make test` work on a fresh Debian 12 machine.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test test-sanitize fuzz-smoke run gui-smoke bench format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSTRATA_SANITIZE=ON -DSTRATA_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The LDI loader under libFuzzer for a bounded time, seeded with small valid files of every kind.
FUZZ_TIME ?= 120
fuzz-smoke: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DSTRATA_FUZZ=ON -DSTRATA_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
	  $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) --target ldi_load_fuzz ldi_fuzz_seeds -j $(JOBS)
	rm -rf $(FUZZ_DIR)/ldi-corpus && mkdir -p $(FUZZ_DIR)/ldi-corpus
	$(FUZZ_DIR)/tests/fuzz/ldi_fuzz_seeds $(FUZZ_DIR)/ldi-corpus
	$(FUZZ_DIR)/tests/fuzz/ldi_load_fuzz $(FUZZ_DIR)/ldi-corpus -max_total_time=$(FUZZ_TIME) \
	  -timeout=30 -rss_limit_mb=4096 -print_final_stats=1

run: build
	@BUILD_DIR=$(BUILD_DIR) scripts/run-demo.sh

# The viewer on a virtual X server: a screenshot must show the frame.
gui-smoke: build
	@BUILD_DIR=$(BUILD_DIR) scripts/gui-smoke.sh

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)

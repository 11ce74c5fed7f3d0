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

# Every reader under libFuzzer for a bounded time, each seeded with small valid files. Each entry
# of FUZZ_TARGETS is FUZZER:SEEDS (two programs under tests/fuzz; SEEDS FOLDER writes the seed
# corpus); the targets share FUZZ_TIME seconds in all.
FUZZ_TIME ?= 120
FUZZ_TARGETS ?= \
  ldi_load_fuzz:ldi_fuzz_seeds \
  ldi_list_fuzz:ldi_list_fuzz_seeds \
  voxel_fuzz:voxel_fuzz_seeds
fuzz-smoke: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DSTRATA_FUZZ=ON -DSTRATA_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
	  $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) --target $(subst :, ,$(FUZZ_TARGETS)) -j $(JOBS)
	@seconds=$$(( $(FUZZ_TIME) / $(words $(FUZZ_TARGETS)) )); \
	for entry in $(FUZZ_TARGETS); do \
	  fuzzer=$${entry%%:*}; seeds=$${entry##*:}; corpus=$(FUZZ_DIR)/$$fuzzer-corpus; \
	  echo "== $$fuzzer for $$seconds s"; \
	  rm -rf $$corpus && mkdir -p $$corpus && \
	  $(FUZZ_DIR)/tests/fuzz/$$seeds $$corpus && \
	  $(FUZZ_DIR)/tests/fuzz/$$fuzzer $$corpus -max_total_time=$$seconds \
	    -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 || exit 1; \
	done

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

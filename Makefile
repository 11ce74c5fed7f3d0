# Front door: `make run` and `make test` work on a fresh Debian 12 machine.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test test-sanitize test-tsan fuzz-smoke run gui-smoke bench format clean

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

# The drawing tests under ThreadSanitizer: the worker pool, the wedge cut and the kernels of every
# kind on several threads. Only their programs are built (the LDI and viewer-core programs fork
# for death tests or make the demo with the ray caster's own uninstrumented threads); the install
# test, which needs every program, is left out.
TSAN_TARGETS ?= strata_platform_tests strata_render_tests strata_render_kernel_tests
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSTRATA_TSAN=ON -DSTRATA_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -E '_NOT_BUILT$$|^strata_desktop_files$$'

# The readers of outside data under libFuzzer, one after another, sharing FUZZ_TIME seconds.
# Each entry is TARGET:SEEDER; the seeder is run as SEEDER FOLDER TARGET to fill the corpus.
FUZZ_TIME ?= 120
FUZZ_TARGETS ?= ldi_load_fuzz:ldi_fuzz_seeds ldi_list_fuzz:ldi_list_fuzz_seeds \
  voxel_fuzz:voxel_fuzz_seeds png_read_fuzz:reader_fuzz_seeds \
  bmp_read_fuzz:reader_fuzz_seeds polyhedron_text_fuzz:reader_fuzz_seeds \
  mesh_precheck_fuzz:reader_fuzz_seeds camera_file_fuzz:reader_fuzz_seeds \
  camera_path_fuzz:reader_fuzz_seeds mtl_fuzz:reader_fuzz_seeds \
  depth_read_fuzz:reader_fuzz_seeds \
  point_cloud_fuzz:reader_fuzz_seeds
fuzz-smoke: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DSTRATA_FUZZ=ON -DSTRATA_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
	  $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target \
	  $(sort $(foreach t,$(FUZZ_TARGETS),$(subst :, ,$(t))))
	@per=$$(( $(FUZZ_TIME) / $(words $(FUZZ_TARGETS)) )); \
	for entry in $(FUZZ_TARGETS); do \
	  target=$${entry%%:*}; seeder=$${entry##*:}; corpus=$(FUZZ_DIR)/corpus/$$target; \
	  echo "== $$target ($$per s)"; \
	  rm -rf $$corpus && mkdir -p $$corpus && \
	  $(FUZZ_DIR)/tests/fuzz/$$seeder $$corpus $$target && \
	  $(FUZZ_DIR)/tests/fuzz/$$target $$corpus -max_total_time=$$per \
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
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(FUZZ_DIR)

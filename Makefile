# Torvane: `make test` installs what is missing, builds, and runs every test;
# `make demo` builds and serves the demo site.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
FUZZ_SECONDS ?= 600

.PHONY: all deps build asan test unit e2e demo bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# The sanitizer build is made with Clang so that the same objects also make
# the libFuzzer targets (fuzz/): one build for both.
asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON -DTORVANE_E2E=OFF \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTORVANE_FUZZ=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Every test: unit and end-to-end tests of the normal build, then the unit tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz
# target briefly (its seed corpus replayed, then 20 s of fuzzing).
test: build asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -L unit
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L fuzz

# The fuzz targets for FUZZ_SECONDS each (default 600), one after another;
# what each executed is printed at its end (see fuzz/README.md).
fuzz: asan
	for t in $(ASAN_BUILD)/fuzz_*; do \
	  n=$$(basename $$t); \
	  bash fuzz/run.sh $$PWD/$$t $(FUZZ_SECONDS) $$PWD/fuzz/corpus/$$n $$PWD/$(ASAN_BUILD)/fuzz-work/$$n || exit 1; \
	done

unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

e2e: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L e2e

demo: build
	./$(BUILD)/torvane serve

bench: deps
	cmake -S . -B $(BENCH_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTORVANE_BENCH=ON -DTORVANE_E2E=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	bash bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)

# Torvane: `make test` installs what is missing, builds, and runs every test;
# `make demo` builds and serves the demo site.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build asan test unit e2e demo bench clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON -DTORVANE_E2E=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target torvane_tests

# Every test: unit and end-to-end tests of the normal build, then the unit tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -L unit

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

# Torvane: `make test` installs what is missing, builds, and runs every test;
# `make demo` builds and serves the demo site.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
FUZZ_SECONDS ?= 600
# WERROR=ON makes compiler warnings in Torvane's own code errors; `make test`
# (and so CI) turns it on for its three builds.
WERROR     ?=
WERROR_FLAG = $(if $(WERROR),-DTORVANE_WERROR=$(WERROR))

.PHONY: all deps demo-deps build demo-build asan fuzzbuild test unit e2e demo install bench fuzz clean reference

all: build

deps:
	@bash scripts/install-deps.sh

# What building and running the demo needs, nothing more (no browser, nginx,
# benchmark or test libraries).
demo-deps:
	@bash scripts/install-deps.sh demo

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_TESTS=ON $(WERROR_FLAG)
	cmake --build $(BUILD) -j $(JOBS)

asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON -DTORVANE_E2E=OFF $(WERROR_FLAG)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target torvane_tests

# The libFuzzer targets (fuzz/) with Clang, AddressSanitizer and
# UndefinedBehaviorSanitizer: only the fuzz targets and the libraries they use
# are built (the unit tests stay with the compiler of the other builds).
fuzzbuild: deps
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON -DTORVANE_E2E=OFF \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 -DTORVANE_FUZZ=ON $(WERROR_FLAG)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

# Every test: unit and end-to-end tests of the normal build, then the unit tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz
# target briefly (its seed corpus replayed, then 20 s of fuzzing). Warnings are
# errors in all three builds.
test: WERROR = ON
test: build asan fuzzbuild
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -L unit
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS) -L fuzz

# The fuzz targets for FUZZ_SECONDS each (default 600), one after another;
# what each executed is printed at its end (see fuzz/README.md).
fuzz: fuzzbuild
	for t in $(FUZZ_BUILD)/fuzz_*; do \
	  [ -f "$$t" ] && [ -x "$$t" ] || continue; \
	  n=$$(basename $$t); \
	  bash fuzz/run.sh $$PWD/$$t $(FUZZ_SECONDS) $$PWD/fuzz/corpus/$$n $$PWD/$(FUZZ_BUILD)/fuzz-work/$$n || exit 1; \
	done

unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

e2e: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L e2e

demo-build: demo-deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target torvane

demo: demo-build
	./$(BUILD)/torvane serve

# The reference rendered from the member tables: docs/reference.md and the
# demo's /reference page. A test fails while either is stale.
reference:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target torvane
	./$(BUILD)/torvane doc --format=md --out docs/reference.md
	./$(BUILD)/torvane doc --format=html-fragment --out examples/site/reference/reference.inc

# Installs under PREFIX (default /usr/local; DESTDIR=... stages it):
# bin/torvane, share/torvane/site, lib/systemd/system/torvane.service,
# lib/sysusers.d/torvane.conf, the development package (include/torvane,
# lib/libtorvane_*.a, lib/cmake/Torvane) and, only where none is there,
# torvane.conf and registry.reg (with their .sample copies) in /etc/torvane
# (PREFIX/etc/torvane for prefixes other than /usr/local and /usr).
# Then: systemd-sysusers; systemctl daemon-reload; systemctl enable --now torvane.
# NOBUILD=1 installs what $(BUILD) holds without the deps and build steps.
PREFIX ?= /usr/local
install: $(if $(NOBUILD),,build)
	cmake --install $(BUILD) --prefix $(PREFIX)

bench: deps
	@bash scripts/install-deps.sh bench
	cmake -S . -B $(BENCH_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTORVANE_BENCH=ON -DTORVANE_E2E=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	bash bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)

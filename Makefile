# Thin wrapper over CMake: make, make test, make test-asan, make demo, make bench, make install.
JOBS    ?= $(shell nproc)
WERROR  ?= OFF
CMAKE   ?= cmake
PREFIX  ?= /usr/local
CONFIG   = -DXCN_WERROR=$(WERROR)

.PHONY: all build test test-asan bench demo install clean

all: build

build:
	$(CMAKE) -S . -B build $(CONFIG)
	$(CMAKE) --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B build-asan $(CONFIG) -DCMAKE_BUILD_TYPE=Debug \
	  -DXCN_SANITIZE=address,undefined
	$(CMAKE) --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench:
	$(CMAKE) -S . -B build-bench $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_BENCH=ON
	$(CMAKE) --build build-bench -j $(JOBS)
	./build-bench/bench_kernels --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Its own Release tree without the tests; the run and its files are in build-release/demo.
demo:
	$(CMAKE) -S . -B build-release $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_TESTS=OFF
	$(CMAKE) --build build-release -j $(JOBS) --target xcorrnet_v3 xcn_synth xcn_demo_report
	tools/demo.sh build-release

install: build
	$(CMAKE) --install build --prefix $(PREFIX)

clean:
	rm -rf build build-asan build-bench build-release

# Thin wrapper over CMake: make, make test, make mpi, make test-asan, make test-tsan, make fuzz,
# make demo, make demo-archive, make bench, make install.
JOBS    ?= $(shell nproc)
WERROR  ?= OFF
CMAKE   ?= cmake
PREFIX  ?= /usr/local
CONFIG   = -DXCN_WERROR=$(WERROR)

.PHONY: all build test mpi test-asan test-tsan fuzz bench bench-mpi bench-prep bench-folders demo demo-archive install clean

all: build

build:
	$(CMAKE) -S . -B build $(CONFIG)
	$(CMAKE) --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

# The build that divides a run among MPI ranks (OpenMPI: libopenmpi-dev, openmpi-bin), in
# build-mpi, with all its tests, those of runs under mpirun included.
mpi:
	$(CMAKE) -S . -B build-mpi $(CONFIG) -DXCN_MPI=ON
	$(CMAKE) --build build-mpi -j $(JOBS)
	cd build-mpi && ctest --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B build-asan $(CONFIG) -DCMAKE_BUILD_TYPE=Debug \
	  -DXCN_SANITIZE=address,undefined
	$(CMAKE) --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The end-to-end tests under ThreadSanitizer, with clang and its own OpenMP runtime (libomp), whose
# Archer tool tells the sanitizer about OpenMP's barriers and locks (libgomp would give false
# alarms); so the matrix engine links the OpenBLAS built on its own threads, which it keeps at one
# (the OpenMP one would bring libgomp). The pair loop runs with four workers unless a test asks
# for another count.
ARCHER ?= $(dir $(realpath $(shell command -v clang++)))../lib/libarcher.so
test-tsan:
	$(CMAKE) -S . -B build-tsan $(CONFIG) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DXCN_SANITIZE=thread -DXCN_BLAS_THREADS=pthread
	$(CMAKE) --build build-tsan -j $(JOBS) --target xcorrnet_v3 test_e2e
	rm -f build-tsan/tsan.*
	cd build-tsan && suites=$$(./test_e2e --gtest_list_tests | sed -n 's/^\([A-Za-z0-9_]*\)\.$$/\1/p' \
	    | paste -sd'|') && \
	  OMP_NUM_THREADS=4 OMP_TOOL_LIBRARIES=$(ARCHER) TSAN_OPTIONS="ignore_noninstrumented_modules=1 \
	    halt_on_error=1 exitcode=66 log_path=$(CURDIR)/build-tsan/tsan" \
	  ctest --output-on-failure -j $(JOBS) -R "^($$suites)\."
	@if ls build-tsan/tsan.* >/dev/null 2>&1; then cat build-tsan/tsan.*; exit 1; fi

# Every fuzz target for FUZZ_SECONDS each (libFuzzer, clang), in build-fuzz/; fails on a crash.
FUZZ_SECONDS ?= 60
# Flags of the end-to-end benchmark, e.g. BENCH_E2E=--skip-plain (the plain loop takes minutes) or
# --skip-big (the matrix engine's 1000-station day: minutes, 5 GB of memory and of result files).
BENCH_E2E ?=
# Flags of the stacking benchmark, e.g. BENCH_STACK="--stations 50 --days 10".
# Flags of xcn_dvv's benchmark, e.g. BENCH_DVV="--stations 21 --days 10 --keep /tmp/dvv".
# Budget (MiB) and workers of the long-records benchmark (20 Hz, 100 Hz, a month at 1 Hz).
BENCH_LONG ?= 2000 2
BENCH_STACK ?=
BENCH_DVV ?=
# Runs of each kind and networks of the container benchmark (SAC files against one container).
BENCH_CONTAINER ?= 3 100 1000
fuzz:
	$(CMAKE) -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++
	$(CMAKE) --build build-fuzz -j $(JOBS)
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

bench:
	$(CMAKE) -S . -B build-bench $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_BENCH=ON
	$(CMAKE) --build build-bench -j $(JOBS)
	./build-bench/bench_kernels --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	./build-bench/bench_dvv --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	./build-bench/bench_e2e $(BENCH_E2E)
	./build-bench/bench_stack $(BENCH_STACK)
	./build-bench/bench_dvv_run $(BENCH_DVV)
	bench/container_bench.sh build-bench $(BENCH_CONTAINER)
	bench/long_records_bench.sh build-bench $(BENCH_LONG)
	@if [ -x build-mpi/xcorrnet_v3 ]; then bench/ranks_bench.sh build-mpi; \
	  else echo "bench: no build-mpi (make mpi): 1 against 2 ranks not measured"; fi

# Only the ranks benchmark: 400 stations, one day at 1 Hz, 1 rank against 2 of one worker each,
# exact and matrix engine, medians of 3 runs.
bench-mpi:
	$(CMAKE) -S . -B build-mpi $(CONFIG) -DXCN_MPI=ON -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build-mpi -j $(JOBS) --target xcorrnet_v3 xcn_synth
	bench/ranks_bench.sh build-mpi

# xcn_prep's station-days per second, 100 Hz Steim-2 day files to 1 Hz and to 20 Hz records
# (needs libmseed, libxml2, libsoxr).
bench-prep:
	$(CMAKE) -S . -B build-release $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_TESTS=OFF
	$(CMAKE) --build build-release -j $(JOBS) --target xcn_prep xcn_synth
	bench/prep_bench.sh build-release

# 500 500 results of 8632 bytes created in one folder against the folders of xcn_names --folders
# (about 4.5 GB, removed again; on a disk mounted with discard the removal takes the longest).
# BENCH_FOLDERS="STATIONS RUNS SCRATCH" sets the size, the runs and the scratch folder.
BENCH_FOLDERS ?= 1000 3
bench-folders:
	$(CMAKE) -S . -B build-bench $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_BENCH=ON
	$(CMAKE) --build build-bench -j $(JOBS) --target bench_folders xcn_names xcn_synth
	bench/folder_bench.sh build-bench $(BENCH_FOLDERS)

# Its own Release tree without the tests; the run and its files are in build-release/demo.
demo:
	$(CMAKE) -S . -B build-release $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_TESTS=OFF
	$(CMAKE) --build build-release -j $(JOBS) --target xcn_demo_programs
	tools/demo.sh build-release

# The same network as a miniSEED archive, through xcn_prep (needs libmseed, libxml2, libsoxr).
demo-archive:
	$(CMAKE) -S . -B build-release $(CONFIG) -DCMAKE_BUILD_TYPE=Release -DXCN_TESTS=OFF
	$(CMAKE) --build build-release -j $(JOBS) --target xcn_demo_programs
	tools/demo_archive.sh build-release

install: build
	$(CMAKE) --install build --prefix $(PREFIX)

clean:
	rm -rf build build-mpi build-asan build-tsan build-fuzz build-bench build-release

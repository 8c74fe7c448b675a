# The two commands that matter: `make demo` and `make test`. Both install what is
# missing (scripts/install-deps.sh) and build first.
BUILD ?= build
GEN ?= v2
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench fuzz asan tsan clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

demo: build
	@scripts/demo.sh $(BUILD) $(GEN)

# Benchmarks need a Release build of their own; the figures print as one table.
BENCH_BUILD ?= build-bench
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target benchmarks
	@scripts/bench.sh $(BENCH_BUILD)

# Reliability: the whole suite under ASan+UBSan and under TSan (build-asan,
# build-tsan), and the libFuzzer targets, FUZZ_SECONDS each (clang, build-fuzz).
FUZZ_SECONDS ?= 60
asan: deps
	@JOBS=$(JOBS) scripts/sanitizers.sh address
tsan: deps
	@JOBS=$(JOBS) scripts/sanitizers.sh thread
fuzz: deps
	@JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

clean:
	rm -rf $(BUILD)

# The commands that matter: `make demo`, `make test` and `make deb`. Each installs
# what it is missing (scripts/install-deps.sh build|test|dev) and builds first.
BUILD ?= build
GEN ?= v2
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps deps-test deps-dev configure configure-test build programs test demo deb bench fuzz asan tsan windows windows-test clean

all: build

deps:
	@scripts/install-deps.sh build
deps-test:
	@scripts/install-deps.sh test
deps-dev:
	@scripts/install-deps.sh dev

# A build for using the programs configures without what only the tests need;
# the tests' own configure refuses to leave a test out, whatever an earlier
# configure of the same build directory left in its cache.
configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUXO_REQUIRE_ALL_TESTS=OFF \
	    $(CMAKE_FLAGS)
configure-test:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
	    -DVUXO_REQUIRE_ALL_TESTS=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The libraries and the programs only: no test, benchmark or fuzz target.
programs: configure
	cmake --build $(BUILD) -j$(JOBS) --target programs

test: deps-test
	@$(MAKE) --no-print-directory configure-test
	cmake --build $(BUILD) -j$(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j$(JOBS)

demo: programs
	@scripts/demo.sh $(BUILD) $(GEN)

# A Debian package of the libraries, programs, headers, man pages and udev rule,
# built for /usr in a build of its own: build-deb/vuxoint_<version>_amd64.deb.
DEB_BUILD ?= build-deb
deb: deps
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	    -DBUILD_TESTING=OFF -DVUXO_BENCH=OFF -DVUXO_FUZZ=OFF $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD) -j$(JOBS)
	cd $(DEB_BUILD) && cpack -G DEB

# Benchmarks need a Release build of their own; the figures print as one table.
BENCH_BUILD ?= build-bench
bench: deps-dev
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target benchmarks
	@scripts/bench.sh $(BENCH_BUILD)

# Reliability: the whole suite under ASan+UBSan and under TSan (build-asan,
# build-tsan), and the libFuzzer targets, FUZZ_SECONDS each (clang, build-fuzz).
FUZZ_SECONDS ?= 60
asan: deps-dev
	@JOBS=$(JOBS) scripts/sanitizers.sh address
tsan: deps-dev
	@JOBS=$(JOBS) scripts/sanitizers.sh thread
fuzz: deps-dev
	@JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

# Windows, cross-built with MinGW-w64 in build-win: the zip and the installer
# (build-win/vuxoint-<version>-win64.zip, build-win/vuxoint-<version>-setup.exe);
# windows-test builds the tests and the installer too and runs them under Wine,
# with the Linux simulator (and the Linux build's test drivers) on the far side.
WIN_BUILD ?= build-win
WIN_CMAKE = cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
windows:
	@scripts/install-deps.sh windows
	$(WIN_CMAKE) -DBUILD_TESTING=OFF
	cmake --build $(WIN_BUILD) -j$(JOBS)
	cmake --build $(WIN_BUILD) --target windows-package
windows-test: deps-test
	@scripts/install-deps.sh windows-test
	@JOBS=$(JOBS) scripts/windows-gtest.sh $(WIN_BUILD)
	$(WIN_CMAKE) -DBUILD_TESTING=ON
	cmake --build $(WIN_BUILD) -j$(JOBS)
	cmake --build $(WIN_BUILD) --target windows-package
	@$(MAKE) --no-print-directory configure-test
	cmake --build $(BUILD) -j$(JOBS) --target vuxoint-sim vuxoint-cli console_run_tests
	@JOBS=$(JOBS) scripts/windows-test.sh $(WIN_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD)

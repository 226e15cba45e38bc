# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
JOBS       ?= $(shell nproc)
# No "Entering/Leaving directory" lines; scripts/build keeps the builds to what the compiler
# and the linker say, and a failed build still shows its errors and fails.
MAKEFLAGS  += --no-print-directory

.PHONY: all deps configure build fuzz-build test demo test-asan fuzz bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@scripts/build $(BUILD) $(JOBS)

# The fuzz programs' tree is built before the tests run, not alongside them.
fuzz-build: deps
	@JOBS=$(JOBS) scripts/fuzz build $(BUILD_FUZZ)

test: build fuzz-build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

demo: build
	@scripts/demo $(BUILD)

test-asan: fuzz-build
	@cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DKVT_SANITIZE=ON >/dev/null
	@scripts/build $(BUILD_ASAN) $(JOBS)
	@cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) --timeout 600

# Each fuzz program for 1,000,000 inputs.
fuzz: fuzz-build
	@scripts/fuzz all $(BUILD_FUZZ) 1000000

bench: build
	@scripts/build $(BUILD) $(JOBS) --target benchmarks
	@scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)

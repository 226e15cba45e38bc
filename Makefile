# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
JOBS       ?= $(shell nproc)
# The build's progress without the nested make's "Entering/Leaving directory" lines; a
# failed build still shows the compiler's errors.
MAKEFLAGS  += --no-print-directory

.PHONY: all deps configure build fuzz-build test demo test-asan fuzz bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The fuzz programs' tree is built before the tests run, not alongside them.
fuzz-build: deps
	@JOBS=$(JOBS) scripts/fuzz build $(BUILD_FUZZ)

test: build fuzz-build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

demo: build
	@scripts/demo $(BUILD)

test-asan: fuzz-build
	@cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DKVT_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD_ASAN) -j $(JOBS)
	@cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) --timeout 600

# Each fuzz program for 1,000,000 inputs.
fuzz: fuzz-build
	@scripts/fuzz all $(BUILD_FUZZ) 1000000

bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)

# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
# The build's progress without the nested make's "Entering/Leaving directory" lines; a
# failed build still shows the compiler's errors.
MAKEFLAGS  += --no-print-directory

.PHONY: all deps configure build test demo test-asan bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

demo: build
	@scripts/demo $(BUILD)

test-asan: deps
	@cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DKVT_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD_ASAN) -j $(JOBS)
	@cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) --timeout 600

bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)

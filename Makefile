# Top-level commands. Every target installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test bench demo format-check fuzz-storage clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

bench: build
	@scripts/run-bench $(BUILD)

demo: build
	@scripts/demo $(BUILD)

# Fuzzes the compound file reader (clang, separate build folder); SECONDS=180 by default.
fuzz-storage: deps
	@scripts/fuzz-storage $(or $(SECONDS),180) $(BUILD)-fuzz

format-check: configure
	@cmake --build $(BUILD) --target format-check

clean:
	rm -rf $(BUILD)

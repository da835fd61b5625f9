# Thin front over CMake. `make run` and `make test` work on a fresh Debian 12.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build asan run test test-unit test-asan fuzz bench clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)/qxferndockassembleride

test: build asan
	@./scripts/test.sh $(BUILD) $(ASAN_BUILD)

fuzz: deps
	@./scripts/fuzz.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz

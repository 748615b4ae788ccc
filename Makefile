# KAMORA's commands. `make demo` and `make test` are all a newcomer needs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# When make began, so that the test run can say what installing and building took.
export KAMORA_MAKE_STARTED := $(shell date +%s)

.PHONY: all deps build test unit demo format clean

all: build

deps:
	@bash scripts/deps.sh

build:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Every test: unit and integration (CTest), then the browser tests.
test: deps build
	@bash scripts/test.sh $(BUILD)

demo: deps build
	@bash scripts/demo.sh $(BUILD)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz

# Long runs (about an hour): fuzzing 10 min per target, the one-minute load
# test and the performance figures table.
.PHONY: soak
soak: deps build
	@bash bench/load_soak.sh $(BUILD)

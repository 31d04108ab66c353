# The two commands of the README:
#   make run   installs what is missing, builds, and rips the sample disc
#   make test  installs what is missing, builds, and runs the whole test suite
BUILD ?= build
JOBS ?= $(shell nproc)
export JOBS
# A new build folder gets Ninja; an existing one keeps its generator.
GENERATOR = $(if $(wildcard $(BUILD)/CMakeCache.txt),,$(if $(shell command -v ninja),-G Ninja))

.PHONY: run test build deps clean

deps:
	tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMBRA_WERROR=ON
	cmake --build $(BUILD) -j$(JOBS)

run: build
	tools/main-job.sh $(BUILD)

test: build
	tools/run-tests.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(BUILD)-debug $(BUILD)-release $(BUILD)-clang-release

# The two commands of the README:
#   make run   installs what is missing, builds, and rips the sample disc
#   make test  installs what is missing, builds, and runs the whole test suite
BUILD ?= build
JOBS ?= $(shell nproc)
export JOBS

.PHONY: run test build deps clean

deps:
	tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

run: build
	tools/main-job.sh $(BUILD)

test: build
	tools/run-tests.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# The two commands a newcomer runs: make demo, make test.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
JOBS := $(shell nproc)
PROFILE ?= default

.PHONY: all deps release debug test demo clean

all: release

deps:
	@scripts/ensure-deps.sh

release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j$(JOBS)

debug: deps
	@cmake --preset debug >/dev/null
	@cmake --build --preset debug -j$(JOBS)

test: deps
	@scripts/run-tests.sh

demo: release
	@python3 bench/vbench.py run --bin build/release/bin --bench-bin build/release/bench \
	    --profile $(PROFILE) --out build/demo/$(PROFILE)

clean:
	rm -rf build

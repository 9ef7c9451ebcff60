# The two commands a newcomer runs: make demo, make test.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
JOBS := $(shell nproc)
PROFILE ?= default
# Profiles checked at once by demo-all: their runs are mostly built-in pauses.
DEMO_JOBS ?= 6
BENCH := python3 bench/vbench.py
BENCH_BINS := --bin build/release/bin --bench-bin build/release/bench

.PHONY: all deps release debug test soak lint check dist repro demo demo-all benchmark clean

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

# make soak [SOAK_REPEATS=20] [SOAK_SUITES=1]: the out-of-process and timing
# tests over and over, then the whole suite, counting what failed.
soak: deps
	@scripts/soak.sh $(or $(SOAK_REPEATS),20) $(or $(SOAK_SUITES),1)

# The clang build, clang-tidy and the format check.
lint: deps
	@scripts/lint.sh

# The release binaries against the rules they ship under.
check: release
	@python3 scripts/check-binaries.py --program build/release/bin/defaults-runner.exe \
	    --library build/release/bin/VireoDll.dll --verifier build/release/bin/vireo-verify.exe \
	    --summary build/release/bin/vireo-summary.exe

# dist/: the checked binaries, SHA256SUMS and RELEASE.txt.
dist: release
	@scripts/dist.sh

# Two fresh release builds must give the same bytes.
repro: deps
	@scripts/check-reproducible.sh

# make demo [PROFILE=name|list] [CHECK=1]
demo: release
	@$(BENCH) run $(BENCH_BINS) --profile $(PROFILE) --out build/demo/$(PROFILE) \
	    $(if $(filter 1,$(CHECK)),--check)

# Every profile, each checked against its expected facts.
demo-all: release
	@$(BENCH) check-all $(BENCH_BINS) --out build/demo --jobs $(DEMO_JOBS)

# vireo-summary.exe on 1,000 and 10,000 generated reports: time and peak memory.
benchmark: release
	@$(BENCH) summary-benchmark --bin build/release/bin --out build/benchmark

clean:
	rm -rf build

# make demo: installs what building needs (compiler, CMake), builds the
#            program and the emulator without the tests, restores a damaged
#            database to a cut-off time on an emulated server, then recovers
#            a whole data directory after a disaster; each act checks its
#            result.
# make test: installs what is missing, builds x86-64 and i386, runs every
#            test of both (with the interruption sweep, whose counts it
#            prints), the 64-bit tests again under ASan+UBSan, and each fuzz
#            target for a short fixed time, then the static analysis, the
#            packages with their lintian gate, and the package tests.
# make package: builds both architectures without the tests and puts their
#            .deb packages (libnsfmend0, libnsfmend-dev, nsfmend,
#            nsfmend-emulator) in build/packages, through the lintian gate.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
B64 := build/x86_64
B32 := build/i386
BSAN := build/asan
BFUZZ := build/fuzz
# Release builds: what ships, without the tests, for the /usr prefix.
BREL64 := build/release-x86_64
BREL32 := build/release-i386
PKGDIR := build/packages
# How this machine runs the i386 programs: native, emulated or build-only
# (written by scripts/i386-runtime before anything of the i386 tree runs).
I386_STATE := build/i386-runtime
# Each build is a preset of CMakePresets.json (its folder is build/NAME):
# configured, built and tested by name.
CONFIGURE = cmake --preset $(1) >/dev/null
BUILD = cmake --build --preset $(1) -j$(JOBS)
CTEST = ctest --preset $(1) -j$(JOBS)

.PHONY: all deps deps-build deps-package build build64 build32 buildsan buildfuzz release64 release32 \
        i386-runtime test test64 test32 testsan fuzz analyze testpkg demo bench package clean \
        plan-agreement

all: build

deps-build:
	@scripts/install-deps build
deps-package:
	@scripts/install-deps package
deps:
	@scripts/install-deps test

build64: deps
	$(call CONFIGURE,x86_64)
	$(call BUILD,x86_64)

build32: deps
	$(call CONFIGURE,i386)
	$(call BUILD,i386)

buildsan: deps
	$(call CONFIGURE,asan)
	$(call BUILD,asan)

buildfuzz: deps
	$(call CONFIGURE,fuzz)
	$(call BUILD,fuzz)

release64: deps-build
	$(call CONFIGURE,release-x86_64)
	$(call BUILD,release-x86_64)

release32: deps-package
	$(call CONFIGURE,release-i386)
	$(call BUILD,release-i386)

build: build64 build32

# After the tests of a build: how many interruption points the sweep covered.
SWEEP_SUMMARY = @for f in $(1)/interruption-sweep/*.txt; do [ -e "$$f" ] && echo "$(notdir $(1)): $$(cat "$$f")"; done; true

test64: build64
	rm -rf $(B64)/interruption-sweep
	$(call CTEST,x86_64)
	$(call SWEEP_SUMMARY,$(B64))
# Whatever runs an i386 program first makes sure this machine can: natively,
# or under user-mode emulation it sets up (as root) when the kernel cannot.
i386-runtime: deps-package
	scripts/i386-runtime ensure $(I386_STATE)

test32: build32 i386-runtime
	rm -rf $(B32)/interruption-sweep
	if [ "$$(cat $(I386_STATE))" = build-only ]; then \
	  scripts/i386-runtime check-tree $(B32); \
	else \
	  $(call CTEST,i386); \
	fi
	$(call SWEEP_SUMMARY,$(B32))
testsan: buildsan
	$(call CTEST,asan)
fuzz: buildfuzz
	JOBS=$(JOBS) scripts/fuzz-run $(BFUZZ) $(FUZZ_SECONDS)

# clang-tidy and cppcheck over src/ and emulator/; any finding fails.
analyze: build64
	scripts/analyze $(B64)

# The packages as shipped: contents, library, hardening, Depends, programs.
testpkg: package deps i386-runtime
	PACKAGES=$(PKGDIR) SOURCE_DIR=$(CURDIR) I386_RUN=$$(cat $(I386_STATE)) bats --print-output-on-failure tests/package

test: test64 test32 testsan fuzz analyze testpkg
	@scripts/i386-runtime summary $(I386_STATE)
	@echo "make test: all passed"

# Generated server states, each checked with OPT=CHECK and then run: the
# check and the run must agree, and the check change nothing. PLAN_STATES
# and PLAN_SEED choose the sample; make test runs a fixed one of 120.
PLAN_STATES ?= 300
PLAN_SEED ?= 1
plan-agreement: build64
	set -o pipefail; NSFMEND=$(CURDIR)/$(B64)/src/nsfmend NOTESEMU=$(CURDIR)/$(B64)/emulator/notesemu \
	  SERVER_ALONE=$(CURDIR)/$(B64)/tests/plan_oracle/server_alone \
	  tests/e2e/plan-agreement --states $(PLAN_STATES) --seed $(PLAN_SEED) | grep -v '^note state'

demo: release64
	scripts/demo $(BREL64)

bench: build64 i386-runtime
	bench/copy $(B64)
	bench/upload $(B64)
	bench/sweep $(B64)
	bench/restore-one $(B64)
	bench/large-db

package: release64 release32 deps-package
	rm -rf $(PKGDIR)
	for b in $(BREL64) $(BREL32); do \
	  cpack -G DEB --config $$b/CPackConfig.cmake -B $(PKGDIR)/.work/$${b##*/} >/dev/null || exit 1; \
	done
	mv $(PKGDIR)/.work/*/*.deb $(PKGDIR)/
	rm -rf $(PKGDIR)/.work
	@ls -1 $(PKGDIR)/*.deb
	scripts/lintian-gate $(PKGDIR)

clean:
	rm -rf build

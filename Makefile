# make test: installs what is missing, builds x86-64 and i386, runs every
#            test of both (with the interruption sweep, whose counts it
#            prints), the 64-bit tests again under ASan+UBSan, and each fuzz
#            target for a short fixed time, then the static analysis.
# make demo: builds, restores a damaged database to a cut-off time on an
#            emulated server, then recovers a whole data directory after a
#            disaster; each act checks its result.
# make package: builds both architectures and puts their .deb packages
#            (nsfmend, nsfmend-emulator) in build/packages.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
B64 := build/x86_64
B32 := build/i386
BSAN := build/asan
BFUZZ := build/fuzz
PKGDIR := build/packages
CTEST := ctest --output-on-failure --no-tests=error -j$(JOBS)

.PHONY: all deps build build64 build32 buildsan buildfuzz test test64 test32 testsan fuzz analyze demo bench package clean

all: build

deps:
	@scripts/install-deps

build64: deps
	cmake -S . -B $(B64) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(B64) -j$(JOBS)

build32: deps
	cmake -S . -B $(B32) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake >/dev/null
	cmake --build $(B32) -j$(JOBS)

buildsan: deps
	cmake -S . -B $(BSAN) -DCMAKE_BUILD_TYPE=Debug -DNSFMEND_SANITIZE=ON >/dev/null
	cmake --build $(BSAN) -j$(JOBS)

buildfuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BFUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNSFMEND_FUZZ=ON >/dev/null
	cmake --build $(BFUZZ) -j$(JOBS) --target fuzz_all

build: build64 build32

# After the tests of a build: how many interruption points the sweep covered.
SWEEP_SUMMARY = @for f in $(1)/interruption-sweep/*.txt; do [ -e "$$f" ] && echo "$(notdir $(1)): $$(cat "$$f")"; done; true

test64: build64
	rm -rf $(B64)/interruption-sweep
	cd $(B64) && $(CTEST)
	$(call SWEEP_SUMMARY,$(B64))
test32: build32
	rm -rf $(B32)/interruption-sweep
	cd $(B32) && $(CTEST)
	$(call SWEEP_SUMMARY,$(B32))
testsan: buildsan
	cd $(BSAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)
fuzz: buildfuzz
	scripts/fuzz-run $(BFUZZ) $(FUZZ_SECONDS)

# clang-tidy and cppcheck over src/ and emulator/; any finding fails.
analyze: build64
	scripts/analyze $(B64)

test: test64 test32 testsan fuzz analyze
	@echo "make test: all passed"

demo: build64
	scripts/demo $(B64)

bench: build64
	bench/copy $(B64)
	bench/sweep $(B64)
	bench/large-db

package: build64 build32
	rm -rf $(PKGDIR)
	for b in $(B64) $(B32); do \
	  cpack -G DEB --config $$b/CPackConfig.cmake -B $(PKGDIR)/.work/$${b##*/} >/dev/null || exit 1; \
	done
	mv $(PKGDIR)/.work/*/*.deb $(PKGDIR)/
	rm -rf $(PKGDIR)/.work
	@ls -1 $(PKGDIR)/*.deb

clean:
	rm -rf build

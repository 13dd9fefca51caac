# The two commands of the Quick start, and a few for developers.
#   make run    install what is missing, build, write the demo archives, start the editor
#   make test   install what is missing, build, run every test headless
#   make test-windows   both programs built for Windows, their tests run under Wine
#   make windows-package  the Windows download: a zip and an installer, in build/windows-cross
#   make test-sanitize  every test again, built with AddressSanitizer and UBSan
#   make fuzz   each fuzz target for FUZZ_SECONDS (default 60); reports executions
#   make bench  the benchmarks of the release build; results in build/bench/results.json
#   make format-check   fails when a source file differs from what clang-format makes of it
#   make package        the Debian package of the release build, in build/release
PRESET ?= release
BUILD  := build/$(PRESET)
DEMO   := build/demo

.PHONY: run test test-windows windows-build windows-package test-sanitize fuzz build deps demo bench clean format-check package

deps:
	scripts/install-deps

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

demo: build
	@test -f $(DEMO)/GRPFACES.S10 -a -f $(DEMO)/GRPFACET.S10 || $(BUILD)/tools/make-demo-archives $(DEMO)

run: demo
	cd $(DEMO) && $(CURDIR)/$(BUILD)/src/pelloran

test: build
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET) -j2

# A memory error, a leak or undefined behaviour fails the test it happens in.
test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	QT_QPA_PLATFORM=offscreen ctest --preset sanitize -j2

# libFuzzer needs clang; the fuzz build has its own folder, build/fuzz.
fuzz:
	scripts/install-deps --fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz
	scripts/run-fuzz

# Cross-compiled with mingw-w64 against the Qt, libpng and libimagequant that
# scripts/build-qt-windows builds once into a cache folder outside the clone
# (about 35 minutes on a bare machine). Wine runs the tests headless; the
# Linux release build is the reference the Windows batch tool is held to.
# The Wine prefix lives in the build folder (the windows-cross test preset
# names the same one) and is made once, before the tests.
WINE_PREFIX  := $(CURDIR)/build/windows-cross/wine-prefix
WINDOWS_DEPS  = $(shell scripts/build-qt-windows --prefix)

windows-build: build
	scripts/install-deps --windows
	scripts/build-qt-windows
	PELLORAN_WINDOWS_DEPS=$(WINDOWS_DEPS) cmake --preset windows-cross \
		-DPELLORAN_LINUX_BUILD=$(CURDIR)/$(BUILD)
	cmake --build --preset windows-cross
	scripts/wine-prefix $(WINE_PREFIX)

test-windows: windows-build
	env -u DISPLAY ctest --preset windows-cross

# The zip and the installer, from the same build the tests ran on.
windows-package: windows-build
	cd build/windows-cross && cpack

# Always the release build, whatever PRESET says: debug figures mean nothing.
# The table compares ours with the byte-at-a-time reference from the same run;
# repetitions are interleaved, so that figures set side by side saw the same
# disk, whose flushes slow down when others on the machine write.
BENCH_OUT := build/bench/results.json
bench: deps
	cmake --preset release
	cmake --build --preset release --target pelloran-bench
	@mkdir -p $(dir $(BENCH_OUT))
	QT_QPA_PLATFORM=offscreen build/release/bench/pelloran-bench \
		--benchmark_enable_random_interleaving=true \
		--benchmark_out=$(BENCH_OUT) --benchmark_out_format=json
	@python3 bench/report.py $(BENCH_OUT)
	cmake --build --preset release --target pelloran-batch make-demo-archives
	/usr/bin/python3 bench/batch_bench.py build/release/src/pelloran-batch \
		build/release/tools/make-demo-archives

# Always the release build: what cmake --install puts in place, as a .deb.
package: deps
	cmake --preset release
	cmake --build --preset release
	cd build/release && cpack -G DEB

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build

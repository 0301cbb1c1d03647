# Front door: wraps CMake. See README.md.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# libpng draws the viewer's pictures; libtiff writes the exporter's TIFF
# files; groff-base checks the manual pages; pkgconf builds against the
# installed library's pkg-config file; MPFR is the reference of the sine and
# cosine tests; Python with numpy and tifffile reads the exported files back.
BUILD_NEEDS = g++ cmake libgtest-dev libpng-dev libtiff-dev groff-base pkgconf libmpfr-dev \
              python3 python3-numpy python3-tifffile
# The demonstration needs only the five programs.
DEMO_NEEDS    = g++ cmake libpng-dev libtiff-dev
DEMO_PROGRAMS = spinmap spinmap-view spinmap-info spinmap-sample spinmap-export
# pybind11, Python's headers and NumPy build the Python module; pytest runs
# its tests.
BUILD_NEEDS += pybind11-dev python3-dev python3-pytest

# CMake's build runs make inside make: keep its output to the build lines.
MAKEFLAGS += --no-print-directory

.PHONY: all build test test-plain sanitize tsan demo needs clean windows test-windows windows-needs install

all: build

needs:
	@bash tools/needs.sh $(BUILD_NEEDS)

# A build folder first configured without the tests (by make demo) gets them
# here.
build: needs
	@grep -qs '^SPINMAP_TESTS:BOOL=ON' $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize: needs
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# The tests of the folders whose operations split a frame over threads, under
# ThreadSanitizer: they force 1, 2, 3 and 7 threads on ragged frames.
TSAN_BUILD   ?= build-tsan
TSAN_FOLDERS  = matrix transform
tsan: needs
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(addprefix test_,$(TSAN_FOLDERS))
	@set -e; for folder in $(TSAN_FOLDERS); do \
	  echo "threads: $$folder"; \
	  TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/$$folder/test_$$folder --gtest_brief=1; done

# The tests of every library folder that has a vector path (it names
# SPINMAP_SSE2, from matrix/vector_paths.h), in a build compiled without any,
# so that the plain paths stay compiled and tested: the byte reversal of the
# data files, the valid-point scans and both rotation kernels.
PLAIN_BUILD   ?= build-plain
PLAIN_FOLDERS  = $(sort $(foreach f,$(shell grep -rl SPINMAP_SSE2 errors matrix platform datafile transform),$(firstword $(subst /, ,$(f)))))
test-plain: needs
	cmake -S . -B $(PLAIN_BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_VECTOR=OFF
	cmake --build $(PLAIN_BUILD) -j $(JOBS) --target $(addprefix test_,$(PLAIN_FOLDERS))
	@set -e; for folder in $(PLAIN_FOLDERS); do \
	  echo "plain paths: $$folder"; $(PLAIN_BUILD)/tests/$$folder/test_$$folder --gtest_brief=1; done

# Builds only the programs; a new build folder is configured without the
# tests (make test adds them later).
demo:
	@bash tools/needs.sh $(DEMO_NEEDS)
	@[ -f $(BUILD)/CMakeCache.txt ] || \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_PROGRAMS)
	@bash tools/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(PLAIN_BUILD) $(TSAN_BUILD)

# The programs, the data library with its headers, CMake package and
# pkg-config file, the manual pages and the Python module, under PREFIX.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# ---- Fuzzing: libFuzzer with clang in its own build folder ----------------------
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_NEEDS    = clang libclang-rt-14-dev cmake libgtest-dev libpng-dev libtiff-dev
# Every library is instrumented for coverage and the sanitizers.
FUZZ_FLAGS    = -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g

.PHONY: fuzz
fuzz:
	@bash tools/needs.sh $(FUZZ_NEEDS)
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_FUZZ=ON \
	  -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)"
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_datafile spinmap-sample
	bash tests/fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# ---- Windows: a MinGW-w64 cross-build, tested under Wine -----------------------
WIN_BUILD       ?= build-windows
WIN_LINUX_BUILD ?= build-win-linux
WINE            ?= /usr/lib/wine/wine64
WINESERVER      ?= /usr/lib/wine/wineserver
WIN_NEEDS        = cmake g++-mingw-w64-x86-64-posix googletest libz-mingw-w64-dev dpkg-dev groff g++ libmpfr-dev
WIN_TEST_NEEDS   = $(BUILD_NEEDS) $(WIN_NEEDS) wine64
# A private Wine prefix inside the build folder, no Wine diagnostics, and no
# offer to install the .NET and HTML runtimes the tool does not use.
WIN_ENV          = WINEPREFIX=$(abspath $(WIN_BUILD))/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WIN_TOOL         = $(WINE) $(abspath $(WIN_BUILD))/app/spinmap.exe

windows-needs:
	@bash tools/needs.sh $(WIN_NEEDS)

WIN_PROGRAMS     = app/spinmap.exe view/spinmap-view.exe info/spinmap-info.exe export/spinmap-export.exe

# The programs (spinmap-view.exe and spinmap-export.exe with a static libpng
# and libtiff built from Debian's source first) and the unit test programs;
# the programs must need no DLL beyond the system's own.
windows: windows-needs
	JOBS=$(JOBS) bash cmake/mingw-static-library.sh libpng $(WIN_BUILD)
	JOBS=$(JOBS) bash cmake/mingw-static-library.sh libtiff $(WIN_BUILD)
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_BUILD) -j $(JOBS)
	@for exe in $(WIN_PROGRAMS); do \
	  name=$$(basename $$exe); \
	  x86_64-w64-mingw32-objdump -p $(WIN_BUILD)/$$exe | grep 'DLL Name' | sed "s/^[[:space:]]*/$$name uses /"; \
	  if x86_64-w64-mingw32-objdump -p $(WIN_BUILD)/$$exe | grep 'DLL Name' | \
	      grep -viE 'DLL Name: (kernel32|msvcrt|user32|advapi32|shell32|ntdll)\.dll'; then \
	    echo "$$name needs a DLL that Windows does not have" >&2; exit 1; fi; \
	done

# The Windows unit tests, then the Linux-built end-to-end tests against
# spinmap.exe, then the outputs of both programs compared byte for byte, all
# under Wine. One Wine server stays up for the whole run.
# Wine is installed before the Windows build is configured: the build records
# it as the runner of its test programs.
test-windows:
	@bash tools/needs.sh $(WIN_TEST_NEEDS)
	$(MAKE) windows
	cmake -S . -B $(WIN_LINUX_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_LINUX_BUILD) -j $(JOBS) --target test_entry test_run spinmap spinmap-sample
	@# A new prefix is set up completely (its start-up processes ended)
	@# before any test runs.
	@if [ ! -f $(WIN_BUILD)/wineprefix/system.reg ]; then \
	  mkdir -p $(WIN_BUILD)/wineprefix && \
	  $(WIN_ENV) $(WINE) wineboot.exe -i </dev/null >/dev/null 2>&1; \
	  $(WIN_ENV) $(WINESERVER) -w; fi
	@# The server stays 30 s after its last client (it may still be up from
	@# an earlier run, which is as good).
	$(WIN_ENV) $(WINESERVER) -p30 </dev/null >/dev/null 2>&1 || true
	$(WIN_ENV) $(WINE) cmd.exe /c exit 0 </dev/null >/dev/null
	$(WIN_ENV) ctest --test-dir $(WIN_BUILD) --output-on-failure -j $(JOBS)
	$(WIN_ENV) SPINMAP_TOOL="$(WIN_TOOL)" $(WIN_LINUX_BUILD)/tests/app/test_entry </dev/null
	$(WIN_ENV) SPINMAP_TOOL="$(WIN_TOOL)" $(WIN_LINUX_BUILD)/tests/app/test_run </dev/null
	$(WIN_ENV) bash cmake/compare-windows-outputs.sh $(WIN_LINUX_BUILD) $(WIN_TOOL)

# ---- Benchmark: whole runs against cp, the kernels alone, and peer libraries ----
# Results go to bench/results.md; sample files and scratch output to bench-output/.
# BENCH_BASELINE=PATH names an earlier spinmap program to run alongside, for
# the targets that ask for no slowdown.
BENCH_BUILD ?= build-bench
BENCH_NEEDS  = cmake g++ libbenchmark-dev time python3 python3-numpy python3-opencv python3-scipy

.PHONY: bench
bench: build
	@bash tools/needs.sh $(BENCH_NEEDS)
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_BENCH=ON -DSPINMAP_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target bench_kernels bench_steps
	/usr/bin/python3 bench/run.py $(BUILD) $(BENCH_BUILD) bench-output bench/results.md \
	  $(if $(BENCH_BASELINE),--baseline $(BENCH_BASELINE))

# ---- Packages: the Debian packages and the Windows zip, in dist/ ---------------
# The Debian packages (spinmap and libspinmap-dev) are built in their own
# folder for the /usr tree (the multiarch library folder); the zip comes from
# the Windows build.
PKG_BUILD    ?= build-package
DIST         ?= dist
PACKAGE_NEEDS = $(BUILD_NEEDS) dpkg-dev file
# Debian's usual hardening of the packaged programs and the Python module.
PKG_FLAGS     = -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
                -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" \
                -DCMAKE_MODULE_LINKER_FLAGS="-Wl,-z,relro,-z,now"

.PHONY: package package-deb package-zip check-package check-deb-fresh
package: package-deb package-zip
	@ls -l $(DIST)

package-deb:
	@bash tools/needs.sh $(PACKAGE_NEEDS)
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DSPINMAP_TESTS=OFF $(PKG_FLAGS)
	cmake --build $(PKG_BUILD) -j $(JOBS)
	rm -f $(PKG_BUILD)/*.deb
	cd $(PKG_BUILD) && cpack -G DEB
	mkdir -p $(DIST)
	rm -f $(DIST)/*.deb
	cp $(PKG_BUILD)/*.deb $(DIST)/

package-zip: windows
	rm -f $(WIN_BUILD)/spinmap-*-win64.zip
	cd $(WIN_BUILD) && cpack -G ZIP
	mkdir -p $(DIST)
	rm -f $(DIST)/spinmap-*-win64.zip
	cp $(WIN_BUILD)/spinmap-*-win64.zip $(DIST)/

# Checks the contents of the packages, runs lintian on the Debian packages
# and the zip's programs under Wine from a folder outside the build tree.
check-package: build
	@bash tools/needs.sh wine64 lintian dpkg-dev
	$(WIN_ENV) WINE=$(WINE) WINESERVER=$(WINESERVER) bash tools/check-package.sh $(DIST) $(BUILD)

# Installs the Debian packages on a brand-new minimal Debian (a debootstrap
# chroot; needs root) and runs the programs there from the PATH.
check-deb-fresh:
	bash tools/check-deb-fresh.sh $(DIST)

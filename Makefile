# Set-up, build, run and test on Debian 12 (as root, or with sudo available for apt-get).
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)

# What each purpose needs, by Debian package name; every target installs only its own lists.
# Building and running the program (libxkbcommon-dev: an optional part of Qt's CMake package,
# which CMake reports missing without it).
BUILD_PACKAGES = cmake g++ make pkg-config qt6-base-dev libxkbcommon-dev libxcb1-dev \
                 libcurl4-openssl-dev fonts-liberation
# The desktop's proxy settings: GNOME's are read through GIO from dconf, in the schema that
# gsettings-desktop-schemas installs.
BUILD_PACKAGES += libglib2.0-dev gsettings-desktop-schemas dconf-gsettings-backend
# Debian's hardening flags (dpkg-buildflags), and the icons the package's files are drawn from.
BUILD_PACKAGES += dpkg-dev librsvg2-bin
# A virtual display with a window manager and the tools that drive and photograph it: make run
# without a display, and the desktop tests.
DESKTOP_PACKAGES = python3 xvfb openbox xdotool wmctrl x11-utils imagemagick
# The Linux suites: unit tests against loopback servers, memcheck, the firewall of the
# dropped-connection test.
TEST_PACKAGES = $(BUILD_PACKAGES) $(DESKTOP_PACKAGES) googletest libgtest-dev libcpp-httplib-dev \
                valgrind iptables iproute2
# The proxy tests' office: Squid with its helpers, an MIT KDC, a session bus with the dconf store,
# and curl's command line to prove each set-up; dbus-x11 for the test that the program starts no
# session bus and writes nothing, with or without one; hardening-check.
TEST_PACKAGES += squid apache2-utils krb5-kdc krb5-admin-server krb5-user dbus dbus-daemon \
                 dbus-x11 dconf-service libglib2.0-bin curl util-linux devscripts
# The fuzzer: clang with libFuzzer and the sanitizers' runtimes.
FUZZ_PACKAGES = $(BUILD_PACKAGES) clang libclang-rt-14-dev
# The Windows program: cross-built with mingw-w64 and tested under Wine, which runs it 32-bit
# (wine32, from the i386 architecture) or, for the 64-bit build, with wine64.
WINDOWS_PACKAGES = g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix \
                   binutils-mingw-w64-x86-64 cmake make googletest wine wine32:i386 wine64 \
                   icoutils iproute2 xvfb xauth openbox xdotool wmctrl x11-utils imagemagick python3

# Static analysis: clang-format, clang-tidy and cppcheck (tools/lint.py), through the compile
# commands of the Linux build and of the mingw-w64 build, both with the tests' support code, which
# is what configuring them needs: googletest, cpp-httplib, python3 and the cross compiler.
LINT_PACKAGES = $(BUILD_PACKAGES) googletest libgtest-dev libcpp-httplib-dev python3 clang-tidy \
                clang-format cppcheck g++-mingw-w64-i686-posix binutils-mingw-w64-i686
LINT_BUILD ?= build-lint

# make test's stages, in order, each a target of its own that installs what it needs; a stage
# added here is run, timed and reported with the others (tools/stages.sh).
TEST_STAGES = test-linux test-asan test-fuzz test-windows test-package

# Whether this kernel runs 32-bit x86 programs, as Wine's 32-bit loader is; some virtual machines
# do not, and there the 64-bit build of the same sources is what Wine runs.
RUNS_32BIT = /lib/ld-linux.so.2 --version >/dev/null 2>&1
XVFB_RUN = xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp"
# Under a window manager: without one, Wine waits 2 s each time a message box closes.
# Its log goes to a folder of its own, not the user's home.
WITH_WM = sh -c 'h=$$(mktemp -d); XDG_CACHE_HOME=$$h XDG_CONFIG_HOME=$$h openbox >/dev/null 2>&1 & \
                 wm=$$!; "$$@"; rc=$$?; kill $$wm; wait $$wm; rm -rf "$$h"; exit $$rc' with-wm
# The tests' build: the program's, with the test programs beside it.
CONFIGURE_TESTS = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON

.PHONY: deps windows-deps install-packages build windows dist run test test-linux test-asan \
        test-fuzz test-windows test-package bench lint clean

deps:
	@$(MAKE) --no-print-directory install-packages NEED="$(BUILD_PACKAGES)"

windows-deps:
	@if ! dpkg --print-foreign-architectures | grep -qx i386; then \
	  echo "Adding the i386 architecture (for wine32)"; \
	  $$([ "$$(id -u)" = 0 ] || echo sudo) dpkg --add-architecture i386; \
	fi
	@$(MAKE) --no-print-directory install-packages NEED="$(WINDOWS_PACKAGES)"

# apt-get update runs only when something is missing, so it also follows a new architecture.
install-packages:
	@missing=$$(for p in $(NEED); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  SUDO=$$([ "$$(id -u)" = 0 ] || echo sudo); \
	  $$SUDO apt-get update -q && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q --no-install-recommends $$missing; \
	fi

# The program alone. A new build folder leaves the tests out, so it needs none of their
# packages; one that make test has set up keeps them, and only the program is built here.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DBUILD_TESTING=OFF)
	cmake --build $(BUILD) -j$(JOBS) --target Zelvatorim

# With a display, the program as a user starts it; without one, a demonstration on a virtual
# display through a loopback proxy, with screenshots.
run: build
	@if [ -n "$$DISPLAY" ] && xdpyinfo >/dev/null 2>&1; then \
	  ./$(BUILD)/Zelvatorim; \
	else \
	  $(MAKE) --no-print-directory install-packages NEED="$(DESKTOP_PACKAGES)" && \
	  python3 tools/virtual_desktop.py --demo $(BUILD); \
	fi

# build-windows/Zelvatorim.exe, the 32-bit program.
windows: windows-deps
	cmake --preset windows
	cmake --build --preset windows

# Every stage, whatever an earlier one gave, then one summary (FAIL_FAST=1 stops at a failure).
test:
	@MAKE="$(MAKE)" tools/stages.sh $(TEST_STAGES)

# Everything, memcheck runs included.
test-linux:
	@$(MAKE) --no-print-directory install-packages NEED="$(TEST_PACKAGES)"
	$(CONFIGURE_TESTS)
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j2

# The whole suite again, built with ASan, UBSan and LSan.
test-asan:
	@$(MAKE) --no-print-directory install-packages NEED="$(TEST_PACKAGES)"
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Fuzzing the layout and proxy-settings readers (clang, ASan+UBSan, its own build folder).
test-fuzz:
	@$(MAKE) --no-print-directory install-packages NEED="$(FUZZ_PACKAGES)"
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ && cmake --build $(FUZZ_BUILD) -j$(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j2

# The release files in dist/: the Debian package, the 32-bit Windows program and SHA256SUMS, the
# same bytes from any clone of the same commit (packaging/dist.sh; README, "Installing").
DIST_PACKAGES = dpkg-dev file librsvg2-bin g++-mingw-w64-i686-posix binutils-mingw-w64-i686
dist: deps
	@$(MAKE) --no-print-directory install-packages NEED="$(DIST_PACKAGES)"
	packaging/dist.sh

# The package as a user gets it: fields, files, lintian, desktop entry, metadata, manual page, and
# the program run from it unpacked; and the hardening of the binary it ships.
PACKAGE_TEST_PACKAGES = $(DESKTOP_PACKAGES) lintian desktop-file-utils appstream man-db devscripts
test-package: dist
	@$(MAKE) --no-print-directory install-packages NEED="$(PACKAGE_TEST_PACKAGES)"
	python3 tests/e2e/test_package.py dist/zelvatorim_*_amd64.deb
	python3 tests/e2e/test_hardening.py build-dist/Zelvatorim build-dist/compile_commands.json

# Speed and memory figures, not a test (README, "Benchmark figures"). As root: it makes a network
# namespace. Takes about 4 minutes, most of it the run where every connection is dropped.
bench:
	@$(MAKE) --no-print-directory install-packages NEED="$(TEST_PACKAGES) curl"
	$(CONFIGURE_TESTS)
	cmake --build $(BUILD) -j$(JOBS) --target Zelvatorim bench_probes
	python3 bench/bench.py $(BUILD)

# The exe's own form; then the unit tests and the whole program under Wine, on a virtual display.
test-windows: windows
	python3 tests/e2e/test_pe.py build-windows/Zelvatorim.exe
	@if $(RUNS_32BIT); then \
	  set -ex; \
	  $(XVFB_RUN) $(WITH_WM) ctest --preset windows; \
	  python3 tests/e2e/test_windows.py build-windows/Zelvatorim.exe; \
	else \
	  echo "This kernel runs no 32-bit programs, so Wine cannot start the 32-bit build:" \
	       "testing the 64-bit build of the same sources under wine64 instead."; \
	  set -ex; \
	  cmake --preset windows-x64; \
	  cmake --build --preset windows-x64; \
	  $(XVFB_RUN) $(WITH_WM) ctest --preset windows-x64; \
	  python3 tests/e2e/test_windows.py build-windows-x64/Zelvatorim.exe; \
	fi

# Every header compiled on its own, then the analysers over the program, the layers and the tests'
# support code; any finding fails (README, "Static analysis"). Build folders of its own.
lint:
	@$(MAKE) --no-print-directory install-packages NEED="$(LINT_PACKAGES)"
	cmake -S . -B $(LINT_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
	cmake --build $(LINT_BUILD) -j$(JOBS) --target header_checks
	cmake --preset windows -B $(LINT_BUILD)-windows -DBUILD_TESTING=ON
	cmake --build $(LINT_BUILD)-windows -j$(JOBS) --target header_checks
	python3 tools/lint.py --jobs $(JOBS) $(LINT_BUILD) $(LINT_BUILD)-windows

clean:
	rm -rf $(BUILD) build-asan $(FUZZ_BUILD) build-windows build-windows-x64
	rm -rf $(LINT_BUILD) $(LINT_BUILD)-windows
	rm -rf build-dist dist

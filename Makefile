# Set-up, build, run and test on Debian 12 (as root, or with sudo available for apt-get).
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)

# What building, running and testing need, by Debian package name.
PACKAGES = cmake g++ make pkg-config qt6-base-dev libxcb1-dev libcurl4-openssl-dev libcpp-httplib-dev \
           googletest libgtest-dev fonts-liberation python3 xvfb openbox xdotool wmctrl \
           x11-utils imagemagick
# The proxy tests' office: Squid with its helpers, an MIT KDC, a session bus with the dconf store,
# GNOME's proxy schema, and curl's command line to prove each set-up.
PACKAGES += squid apache2-utils krb5-kdc krb5-admin-server krb5-user dbus-daemon dconf-service \
            dconf-gsettings-backend gsettings-desktop-schemas libglib2.0-bin curl util-linux
# The sanitizer and memcheck suites, the firewall of the dropped-connection test, and the fuzzer.
PACKAGES += valgrind iptables iproute2 clang libclang-rt-14-dev
# The desktop's proxy settings: GNOME's through GIO from dconf (their schema is in
# gsettings-desktop-schemas); a private session bus, the gsettings tool and dbus-launch for the
# test that the program starts no bus and writes nothing.
PACKAGES += libglib2.0-dev gsettings-desktop-schemas dconf-gsettings-backend dconf-service \
            libglib2.0-bin dbus dbus-x11
# The Windows program: cross-built with mingw-w64 and tested under Wine, which runs it 32-bit
# (wine32, from the i386 architecture) or, for the 64-bit build, with wine64.
WINDOWS_PACKAGES = g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix \
                   binutils-mingw-w64-x86-64 cmake make googletest wine wine32:i386 wine64 \
                   icoutils iproute2 xvfb xauth openbox xdotool wmctrl x11-utils imagemagick python3

# Whether this kernel runs 32-bit x86 programs, as Wine's 32-bit loader is; some virtual machines
# do not, and there the 64-bit build of the same sources is what Wine runs.
RUNS_32BIT = /lib/ld-linux.so.2 --version >/dev/null 2>&1
XVFB_RUN = xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp"
# Under a window manager: without one, Wine waits 2 s each time a message box closes.
WITH_WM = sh -c 'openbox >/dev/null 2>&1 & wm=$$!; "$$@"; rc=$$?; kill $$wm; exit $$rc' with-wm

.PHONY: deps windows-deps install-packages build windows run test test-linux test-windows bench clean

deps:
	@$(MAKE) --no-print-directory install-packages NEED="$(PACKAGES)"

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

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

# With a display, the program as a user starts it; without one, a demonstration on a virtual
# display through a loopback proxy, with screenshots.
run: build
	@if [ -n "$$DISPLAY" ] && xdpyinfo >/dev/null 2>&1; then \
	  ./$(BUILD)/Zelvatorim; \
	else \
	  python3 tools/virtual_desktop.py --demo $(BUILD); \
	fi

# build-windows/Zelvatorim.exe, the 32-bit program.
windows: windows-deps
	cmake --preset windows
	cmake --build --preset windows

test: test-linux test-windows

# Everything, memcheck runs included; then the whole suite again built with ASan, UBSan and LSan;
# then fuzzing the layout and proxy-settings readers (clang, ASan+UBSan, its own build folder).
test-linux: build
	cd $(BUILD) && ctest --output-on-failure -j2
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ && cmake --build $(FUZZ_BUILD) -j$(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j2

# Speed and memory figures, not a test (README, "Benchmark figures"). As root: it makes a network
# namespace. Takes about 4 minutes, most of it the run where every connection is dropped.
bench: build
	cmake --build $(BUILD) -j$(JOBS) --target bench_probes
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

clean:
	rm -rf $(BUILD) build-asan $(FUZZ_BUILD) build-windows build-windows-x64

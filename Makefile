# Set-up, build, run and test on Debian 12 (as root, or with sudo available for apt-get).
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)

# What building, running and testing need, by Debian package name.
PACKAGES = cmake g++ make pkg-config qt6-base-dev libxcb1-dev libcurl4-openssl-dev libcpp-httplib-dev \
           googletest libgtest-dev fonts-liberation python3 xvfb openbox xdotool wmctrl \
           x11-utils imagemagick
# The sanitizer and memcheck suites, the firewall of the dropped-connection test, and the fuzzer.
PACKAGES += valgrind iptables iproute2 clang libclang-rt-14-dev

.PHONY: deps build run test bench clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
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

# Everything, memcheck runs included; then the whole suite again built with ASan, UBSan and LSan;
# then a minute of fuzzing the layout reader (clang, ASan+UBSan, its own build folder).
test: build
	cd $(BUILD) && ctest --output-on-failure -j2
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ && cmake --build $(FUZZ_BUILD) -j$(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j2

# Speed and memory figures, not a test (README, "Benchmark figures"). As root: it makes a network
# namespace. Takes about 4 minutes, most of it the run where every connection is dropped.
bench: PACKAGES += curl
bench: build
	cmake --build $(BUILD) -j$(JOBS) --target bench_probes
	python3 bench/bench.py $(BUILD)

clean:
	rm -rf $(BUILD) build-asan $(FUZZ_BUILD)

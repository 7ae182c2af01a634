# The commands of the README: `make demo`, `make test`, `make check`, `make package`,
# `make release`.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)

# Debian packages, one list per purpose; each target installs the lists it uses and no more.
# `make demo` installs DEMO_PACKAGES only; `make test` installs those and every list in TEST_DEPS.
DEMO_PACKAGES       = cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev \
                      libmodbus-dev fonts-liberation
# GoogleTest, libfaketime for the wait against a wall clock that jumps, pymodbus's RTU server on a
# socat pseudo-terminal pair as a second slave that nobody here wrote; socat as a serial device
# server on the loopback, ip for the loopback of a network namespace of the tests' own, and mbpoll
# as a master that nobody here wrote, for vek-cli listen to overhear.
UNIT_TEST_PACKAGES  = libgtest-dev faketime python3-pymodbus python3-serial-asyncio socat iproute2 \
                      mbpoll
FUZZ_PACKAGES       = clang-14 libclang-rt-14-dev
BENCH_PACKAGES      = xvfb xauth
# The peer that `make bench-pace` measures vek-cli against.
BENCH_PACE_PACKAGES = mbpoll
# `make package` builds the .deb with these (pandoc for the HTML manual); `make test-package`
# checks it with the second list.
PACKAGE_PACKAGES    = dpkg-dev file pandoc
PACKAGE_CHECK_PACKAGES = desktop-file-utils appstream lintian man-db x11-utils xvfb
# The Windows program, cross-compiled, and its tests under wine: `make windows`, `make test-windows`.
WINDOWS_PACKAGES    = g++-mingw-w64-x86-64 wine wine64 googletest
# `make release` unpacks the zip it made to check it.
RELEASE_PACKAGES    = unzip
TEST_DEPS += $(UNIT_TEST_PACKAGES)
TEST_DEPS += $(FUZZ_PACKAGES)
TEST_DEPS += $(BENCH_PACKAGES)
TEST_DEPS += $(PACKAGE_PACKAGES)
TEST_DEPS += $(PACKAGE_CHECK_PACKAGES)
TEST_DEPS += $(WINDOWS_PACKAGES)
TEST_DEPS += $(RELEASE_PACKAGES)
# Only for retaking docs/window.png and docs/window-windows.png.
SCREENSHOT_PACKAGES = xvfb xauth xdotool imagemagick
# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz
# targets of fuzz/: a short run of each in `make test`, FUZZ_SECONDS each in `make fuzz`.
ASAN_BUILD   ?= build-asan
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
                LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
                UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# The parallel work is inside each build; two targets at once would race on apt and the CPUs.
.NOTPARALLEL:

.PHONY: all deps deps-demo deps-check deps-package deps-package-check configure build build-demo \
        check test demo bench bench-pace bench-listen screenshot clean test-asan test-fuzz fuzz \
        package test-package deps-windows windows test-windows bench-windows screenshot-windows \
        deps-release release release-check

all: build

# Installs only what is missing, so a second run costs nothing. Needs root or sudo; sudo drops
# the environment, so apt's non-interactive front-end is passed on its command line. A machine
# that never fetched the package lists (a fresh Debian image) fetches them first; lists that are
# there but stale are refreshed when the install fails.
define install
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  apt="env DEBIAN_FRONTEND=noninteractive apt-get"; [ "$$(id -u)" -eq 0 ] || apt="sudo $$apt"; \
	  echo "Installing:$$missing"; \
	  if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then \
	    $$apt update -q || exit 1; \
	  fi; \
	  $$apt install -y -q --no-install-recommends $$missing || \
	  { $$apt update -q && $$apt install -y -q --no-install-recommends $$missing; }; \
	fi
endef

deps-demo:
	$(call install,$(DEMO_PACKAGES) $(EXTRA_PACKAGES))

deps-check:
	$(call install,$(DEMO_PACKAGES) $(UNIT_TEST_PACKAGES) $(EXTRA_PACKAGES))

deps-package:
	$(call install,$(DEMO_PACKAGES) $(PACKAGE_PACKAGES) $(EXTRA_PACKAGES))

deps-package-check:
	$(call install,$(DEMO_PACKAGES) $(PACKAGE_PACKAGES) $(PACKAGE_CHECK_PACKAGES) $(EXTRA_PACKAGES))

# What the release is built with and checked with: the Linux tree's vek-demo-slave and
# vek-wine-peers (GoogleTest) serve the wine session that starts the zipped exes.
deps-release:
	$(call install,$(DEMO_PACKAGES) $(UNIT_TEST_PACKAGES) $(BENCH_PACKAGES) $(PACKAGE_PACKAGES) \
	  $(PACKAGE_CHECK_PACKAGES) $(WINDOWS_PACKAGES) $(RELEASE_PACKAGES) $(EXTRA_PACKAGES))

deps:
	$(call install,$(DEMO_PACKAGES) $(TEST_DEPS) $(EXTRA_PACKAGES))

# Configured on every run (it takes a fraction of a second), so a tree first set up by
# `make demo`, without GoogleTest, takes the tests in once `make test` has installed it. cpack
# builds nothing itself (no "install needs all"): `make package` builds what the package holds.
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
CTEST     = cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) --timeout 120

configure: deps
	$(CONFIGURE)

build: deps
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)

build-demo: deps-demo
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target vek-sample vek-demo-slave

# Day-to-day: the build and the Linux suite in $(BUILD); no package, wine, sanitizers or fuzzing.
check: deps-check
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)
	$(CTEST)

# Everything, as CI runs it; the release's check holds the package's.
test: build
	$(CTEST)
	$(MAKE) --no-print-directory test-windows release test-asan test-fuzz

# $(BUILD)/vek-sample_<version>_<arch>.deb (see packaging/): the two programs, the compressed
# manual pages and changelog and the HTML manual are all it needs built.
package: deps-package
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target vek-sample vek-cli compressed_docs manual_html
	rm -f $(BUILD)/vek-sample_*.deb
	cd $(BUILD) && cpack

test-package: deps-package-check package
	packaging/check.sh $(BUILD)/vek-sample_*.deb

$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_SANITIZE=ON

test-asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure --no-tests=error -j $(JOBS) \
	  --timeout 240

$(FUZZ_BUILD)/CMakeCache.txt: | deps
	CC=clang-14 CXX=clang++-14 cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

test-fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	for t in check_reply frame text listen; do \
	  fuzz/run.sh $(FUZZ_BUILD)/fuzz_$$t fuzz/corpus/$$t $(FUZZ_BUILD)/found/$$t $(FUZZ_SECONDS) || exit 1; \
	done

# $(WINDOWS_BUILD)/vek-sample.exe: one self-contained exe for 64-bit Windows 10 and 11.
WINDOWS_BUILD ?= build-windows

WINDOWS_CONFIGURE = cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVEK_HOST_BUILD=$(CURDIR)/$(BUILD)

deps-windows:
	$(call install,cmake make $(WINDOWS_PACKAGES))

windows: deps-windows
	$(WINDOWS_CONFIGURE)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The end-to-end run under wine takes its serial peers from the Linux build.
test-windows: build windows
	cd $(WINDOWS_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) --timeout 120

# $(RELEASE)/: the files of a release, named with the version of project() in CMakeLists.txt,
# and their checksums (see "Install it" in the README). The source archive is the last commit's;
# the programs are built from the tree as it is. Then `make release-check`.
RELEASE ?= release
VERSION := $(shell sed -n 's/^project(vek-sample VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)

release: deps-release package
	cmake --build $(BUILD) -j $(JOBS) --target vek-demo-slave vek-wine-peers
	$(WINDOWS_CONFIGURE)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target vek-sample vek-cli vek-driver manual_html
	rm -f $(WINDOWS_BUILD)/vek-sample-*.zip
	cd $(WINDOWS_BUILD) && cpack
	rm -rf $(RELEASE) && mkdir -p $(RELEASE)
	cp $(WINDOWS_BUILD)/vek-sample-$(VERSION)-windows-x64.zip $(BUILD)/vek-sample_$(VERSION)_*.deb \
	   $(RELEASE)/
	@git diff --quiet HEAD -- || echo "release: the source archive lacks the uncommitted changes" >&2
	git archive --prefix=vek-sample-$(VERSION)/ -o $(RELEASE)/vek-sample-$(VERSION).tar.gz HEAD
	cd $(RELEASE) && sha256sum vek-sample* >SHA256SUMS
	$(MAKE) --no-print-directory release-check

# The release's files against each other and the version: the checksums, the package's own
# check (lintian), the manual's pictures and links, and the zipped exes started under wine.
release-check: deps-release
	packaging/check_release.sh $(RELEASE) $(VERSION) $(BUILD) $(WINDOWS_BUILD)

demo: build-demo
	tools/demo.sh $(BUILD)

# What a command costs beyond its 0.2 s wait; see bench/README.md.
bench: build
	$(BUILD)/vek-bench

# vek-cli's pace against mbpoll and a device that paces its reply, and a scan's time; about 3
# minutes, see bench/README.md. PACE_ARGS=--no-full-scan leaves out the 2-minute full scan.
bench-pace:
	$(call install,$(DEMO_PACKAGES) $(BENCH_PACE_PACKAGES))
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target vek-pace
	$(BUILD)/vek-pace $(PACE_ARGS)

# vek-cli listen's resident size over a million frames on a line without silences, and over
# noise and babble; about 10 seconds, see bench/README.md.
bench-listen: build-demo
	cmake --build $(BUILD) -j $(JOBS) --target vek-listen-load
	for mode in conversation noise babble; do $(BUILD)/vek-listen-load --mode $$mode || exit 1; done

screenshot:
	$(MAKE) --no-print-directory build-demo EXTRA_PACKAGES="$(SCREENSHOT_PACKAGES)"
	tools/screenshot.sh $(BUILD) docs/window.png

# The same under wine (bench/README.md).
bench-windows: build windows
	bench/windows.sh $(WINDOWS_BUILD) $(BUILD)

screenshot-windows:
	$(MAKE) --no-print-directory build windows EXTRA_PACKAGES="$(SCREENSHOT_PACKAGES)"
	tools/screenshot_windows.sh $(WINDOWS_BUILD) $(BUILD) docs/window-windows.png

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD) $(RELEASE)

# The two commands of the README: `make demo` and `make test`.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libmodbus-dev \
           libgtest-dev xvfb xauth fonts-liberation libgl-dev clang-14 libclang-rt-14-dev
# For `make package` and its check in `make test`.
PACKAGES += dpkg-dev file desktop-file-utils appstream lintian man-db x11-utils
# Only for retaking docs/window.png.
SCREENSHOT_PACKAGES = xdotool imagemagick
# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz
# targets of fuzz/: a short run of each in `make test`, FUZZ_SECONDS each in `make fuzz`.
ASAN_BUILD   ?= build-asan
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
                LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
                UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: all deps configure build test demo bench screenshot clean test-asan test-fuzz fuzz \
        package test-package

all: build

# Installs only what is missing, so a second run costs nothing. Needs root or sudo.
deps:
	@missing=""; for p in $(PACKAGES) $(EXTRA_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  echo "Installing:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  $$sudo apt-get install -y -q --no-install-recommends $$missing || \
	  { $$sudo apt-get update -q && $$sudo apt-get install -y -q --no-install-recommends $$missing; }; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 120
	$(MAKE) --no-print-directory test-package test-asan test-fuzz

# $(BUILD)/vek-sample_<version>_<arch>.deb, from the build above (see packaging/).
package: build
	rm -f $(BUILD)/vek-sample_*.deb
	cd $(BUILD) && cpack

test-package: package
	packaging/check.sh $(BUILD)/vek-sample_*.deb

$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_SANITIZE=ON

test-asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) --timeout 240

$(FUZZ_BUILD)/CMakeCache.txt: | deps
	CC=clang-14 CXX=clang++-14 cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

test-fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	for t in check_reply frame text; do \
	  fuzz/run.sh $(FUZZ_BUILD)/fuzz_$$t fuzz/corpus/$$t $(FUZZ_BUILD)/found/$$t $(FUZZ_SECONDS) || exit 1; \
	done

demo: build
	tools/demo.sh $(BUILD)

# What a command costs beyond its 0.2 s wait; see the README's Performance section.
bench: build
	$(BUILD)/vek-bench

screenshot:
	$(MAKE) --no-print-directory build EXTRA_PACKAGES="$(SCREENSHOT_PACKAGES)"
	tools/screenshot.sh $(BUILD) docs/window.png

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

# The two commands of the README: `make demo` and `make test`.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libmodbus-dev \
           libgtest-dev xvfb xauth fonts-liberation libgl-dev

.PHONY: all deps configure build test demo clean

all: build

# Installs only what is missing, so a second run costs nothing. Needs root or sudo.
deps:
	@missing=""; for p in $(PACKAGES); do \
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

demo: build
	tools/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)

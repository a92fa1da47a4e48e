# Two commands for a newcomer: `make run ARGS='<page-url> 720 --player mpv'` and `make test`.
# Both install missing Debian packages first (with sudo when not root).

BUILD_DIR  ?= build
BUILD_TYPE ?= Release
ARGS       ?=

# Build, test (real youtube-dl, player, media maker, local HTTP server) and benchmark needs.
PACKAGES       := cmake ninja-build g++ pkg-config libgtest-dev libpcre3-dev \
                  python3 ffmpeg mpv yt-dlp
BENCH_PACKAGES := hyperfine

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
ifeq ($(CI),true)
CMAKE_FLAGS += -DSTREAMLAUNCH_WERROR=ON
endif

.PHONY: all deps bench-deps build test run bench clean

all: build

define install_missing
	@missing=$$(for p in $(1); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

bench-deps: deps
	$(call install_missing,$(BENCH_PACKAGES))

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j2

test: build
	ctest --test-dir $(BUILD_DIR) -j2 --output-on-failure

# The launcher looks for youtube-dl beside itself; Debian's yt-dlp serves.
run: build
	@[ -e $(BUILD_DIR)/youtube-dl ] || ln -s "$$(command -v youtube-dl || command -v yt-dlp)" $(BUILD_DIR)/youtube-dl
	$(BUILD_DIR)/streamlaunch $(ARGS)

bench: build bench-deps
	bench/launch.sh $(BUILD_DIR)/streamlaunch

clean:
	rm -rf $(BUILD_DIR)

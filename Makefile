# Two commands for a newcomer: `make run ARGS='<page-url> 720 --player mpv'` and `make test`.
# Both install missing Debian packages first (with sudo when not root).

SHELL := /bin/bash

BUILD_DIR  ?= build
BUILD_TYPE ?= Release
ARGS       ?=
PREFIX     ?= /usr/local
DESTDIR    ?=

# Build, test (real youtube-dl, player, media maker, local HTTP server) and benchmark needs.
PACKAGES       := cmake ninja-build g++ pkg-config libgtest-dev libpcre3-dev libmbedtls-dev \
                  python3 ffmpeg mpv yt-dlp openssl ca-certificates nginx iproute2 groff-base
BENCH_PACKAGES := hyperfine libbenchmark-dev rapidjson-dev nlohmann-json3-dev libsimdjson-dev \
                  libpugixml-dev libtinyxml2-dev streamlink time libcurl4-openssl-dev
FUZZ_PACKAGES  := clang libclang-rt-14-dev
DEMO_CHECK_PACKAGES := xvfb imagemagick
DEB_PACKAGES   := build-essential debhelper dpkg-dev lintian cmake ninja-build pkg-config \
                  libmbedtls-dev libpcre3-dev
DEB_CHECK_PACKAGES := man-db python3 ffmpeg
REPRO_PACKAGES := diffoscope unzip binutils
FUZZ_SECONDS   ?= 60
FUZZ_TARGETS   := json xml ereg http_response http_request http_peer launcher command_line ownership
# The request composer, the launcher's readings and the command-line round trip are small
# and saturate sooner, and the scripted peer's runs wait on purpose: 30 s each, unless
# FUZZ_SECONDS is given from outside the Makefile.
FUZZ_SHORT_TARGETS := http_request http_peer launcher command_line
FUZZ_SHORT_SECONDS := $(if $(filter file,$(origin FUZZ_SECONDS)),30,$(FUZZ_SECONDS))

# Windows: cross-compiled with mingw-w64 against our own static mbedTLS and PCRE, built from
# Debian's sources of the versions above (windows/build-deps.sh), and tested under Wine.
WINDOWS_DIR      := build-windows
WINDOWS_DEPS     ?= build-windows-deps
WINDOWS_ZIP       = $(WINDOWS_DIR)/streamlaunch-$(VERSION)-windows.zip
WINDOWS_PACKAGES := cmake ninja-build python3 dpkg-dev g++-mingw-w64-x86-64 mingw-w64 wine wine64 \
                    libmbedtls-dev libpcre3-dev googletest openssl ca-certificates iproute2

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
ifeq ($(CI),true)
CMAKE_FLAGS += -DSTREAMLAUNCH_WERROR=ON
endif

.PHONY: all deps bench-deps fuzz-deps build test run demo demo-check install install-files uninstall
.PHONY: deb deb-check dist release bench fuzz clean
.PHONY: windows-deps windows windows-dist test-windows repro-check
.PHONY: test-asan test-valgrind torture coverage

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

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

# Configuring looks for the packages, so it waits for their installation (with make -j
# it would otherwise run beside it); order-only, as a check that installs nothing must not
# configure again.
$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j2

# The torture set's longer roads (label torture-full) run only under `make torture`.
test: build
	ctest --test-dir $(BUILD_DIR) -j2 --output-on-failure -LE torture-full

# The whole suite built with ASan and UBSan (the asan preset); tests labelled long or
# no-asan are left out, each with its reason where it is declared (tests/CMakeLists.txt).
test-asan: deps
	cmake --preset asan -B $(BUILD_DIR)-asan $(if $(filter true,$(CI)),-DSTREAMLAUNCH_WERROR=ON)
	cmake --build $(BUILD_DIR)-asan -j2
	ctest --test-dir $(BUILD_DIR)-asan -j2 --output-on-failure -LE 'no-asan|long|torture-full'

# Every platform call and allocation failed in turn on every road (tests/torture/), in the
# asan build, whose LeakSanitizer also reports what a failure leaks.
torture: deps
	cmake --preset asan -B $(BUILD_DIR)-asan $(if $(filter true,$(CI)),-DSTREAMLAUNCH_WERROR=ON)
	cmake --build $(BUILD_DIR)-asan -j2
	ctest --test-dir $(BUILD_DIR)-asan --output-on-failure --verbose -L torture

# The whole suite, the torture set's longer roads included (they fail every platform call and
# allocation in turn, so they reach error paths nothing else does; some seconds more), in a
# build with gcc's coverage; gcovr then lists the lines of src/ that no test ran and prints
# the line, function and branch figures. Not in CI.
coverage: deps
	$(call install_missing,gcovr)
	cmake -S . -B $(BUILD_DIR)-coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage
	cmake --build $(BUILD_DIR)-coverage -j2
	find $(BUILD_DIR)-coverage -name '*.gcda' -delete
	ctest --test-dir $(BUILD_DIR)-coverage -j2 --output-on-failure
	gcovr -r . --filter src/ --exclude src/native/win32/ --exclude-throw-branches \
	  --exclude-unreachable-branches -s $(BUILD_DIR)-coverage

# The launcher looks for youtube-dl beside itself; Debian's yt-dlp serves.
# Without ARGS: the demonstration below.
run: build
ifeq ($(strip $(ARGS)),)
	demo/demo.sh $(BUILD_DIR)/streamlaunch
else
	@[ -e $(BUILD_DIR)/youtube-dl ] || ln -s "$$(command -v youtube-dl || command -v yt-dlp)" $(BUILD_DIR)/youtube-dl
	$(BUILD_DIR)/streamlaunch $(ARGS)
endif

# Both roads on this machine alone: a channel through a local stand-in of the service, in
# private namespaces, and youtube-dl on a local page; mpv plays each.
demo: build
	demo/demo.sh $(BUILD_DIR)/streamlaunch

# `make demo` on a virtual X desktop, mpv in a window: a screenshot of each road playing
# must show the stream, and nothing the demo started may be left, also after an interrupt.
# The screenshots stay in $(BUILD_DIR)/demo.
demo-check: build
	$(call install_missing,$(DEMO_CHECK_PACKAGES))
	demo/check-desktop.sh $(BUILD_DIR) $(BUILD_DIR)/demo

# The launcher under valgrind's memcheck on the youtube-dl roads and the channel road, as
# the end-to-end tests run it: an invalid access or a definite leak fails the test. Left
# out: the start failures, which valgrind hides (it runs posix_spawn's shared-memory vfork
# as a plain fork, so a failed exec no longer reaches the launcher). Then the one library test
# that only memcheck holds: a document freed at exit after the arena's block cache (ASan
# builds keep no blocks); the test programs' operator delete, the fault injector's, reads
# as a mismatched free.
test-valgrind: build
	$(call install_missing,valgrind)
	STREAMLAUNCH_LAUNCH_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite" \
	  ctest --test-dir $(BUILD_DIR) -j2 --output-on-failure -L e2e -E UncaughtErrorsEndWithTheErrorLineAndStatus255
	valgrind -q --error-exitcode=99 --show-mismatched-frees=no --leak-check=full --errors-for-leak-kinds=definite \
	  $(BUILD_DIR)/tests/lumo_tests --gtest_filter=XmlOwnership.KeptNodeOutlivesItsDocumentAndStaysEditable

# The program lives in a folder of its own, where it looks for youtube-dl beside itself;
# bin/ holds a link to it (the launcher finds its folder through its real path).
INSTALL_LIB := $(DESTDIR)$(PREFIX)/lib/streamlaunch
INSTALL_BIN := $(DESTDIR)$(PREFIX)/bin
INSTALL_MAN := $(DESTDIR)$(PREFIX)/share/man/man1
INSTALL_DOC := $(DESTDIR)$(PREFIX)/share/doc/streamlaunch
# The program's licence and those of the libraries linked statically into it, which ask
# that their notices travel with it. A distribution that links them as shared libraries
# ships its own copyright file instead and empties this list.
LICENSE_FILES ?= LICENSE THIRD-PARTY-NOTICES

install: build
	@$(MAKE) --no-print-directory install-files

# What install lays out, from a program already built: for a packager's build, which has
# build dependencies of its own (debian/rules). YOUTUBE_DL names the tool to link beside
# the program, instead of the youtube-dl or yt-dlp found on this machine.
install-files:
	install -d $(INSTALL_LIB) $(INSTALL_BIN) $(INSTALL_MAN)
	install -m 755 $(BUILD_DIR)/streamlaunch $(INSTALL_LIB)/streamlaunch
	ln -sfn ../lib/streamlaunch/streamlaunch $(INSTALL_BIN)/streamlaunch
	install -m 644 $(BUILD_DIR)/streamlaunch.1 $(INSTALL_MAN)/streamlaunch.1
	$(if $(strip $(LICENSE_FILES)),install -d $(INSTALL_DOC) && install -m 644 $(LICENSE_FILES) $(INSTALL_DOC)/)
	@ytdl=$(or $(YOUTUBE_DL),$$(command -v youtube-dl || command -v yt-dlp || true)); \
	if [ -e $(INSTALL_LIB)/youtube-dl ] && [ ! -L $(INSTALL_LIB)/youtube-dl ]; then \
	  echo "Kept the youtube-dl already in $(PREFIX)/lib/streamlaunch"; \
	elif [ -n "$$ytdl" ]; then \
	  ln -sfn "$$ytdl" $(INSTALL_LIB)/youtube-dl; echo "$(PREFIX)/lib/streamlaunch/youtube-dl -> $$ytdl"; \
	else \
	  echo "No youtube-dl or yt-dlp is installed: put one at $(PREFIX)/lib/streamlaunch/youtube-dl;"; \
	  echo "until then streamlaunch prints \"Put youtube-dl near this file.\""; \
	fi

# Removes what install put there; a youtube-dl that is not a link is the user's own.
uninstall:
	rm -f $(INSTALL_BIN)/streamlaunch $(INSTALL_LIB)/streamlaunch $(INSTALL_MAN)/streamlaunch.1
	rm -f $(addprefix $(INSTALL_DOC)/,$(LICENSE_FILES))
	[ ! -L $(INSTALL_LIB)/youtube-dl ] || rm -f $(INSTALL_LIB)/youtube-dl
	rmdir $(INSTALL_LIB) $(INSTALL_DOC) 2>/dev/null || true

# The version is named once, in CMakeLists.txt's project(): the program, the manual page
# (configured by CMake), the package's name and the zip's name take it from there; the
# package's own version, from debian/changelog, must agree (checked by deb).
VERSION := $(shell sed -n 's/^project.streamlaunch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The time of the release, from the changelog's latest entry, as Debian's tools take it:
# the zip's members carry it instead of the time of the build.
SOURCE_DATE_EPOCH ?= $(shell dpkg-parsechangelog -l debian/changelog -S Timestamp)
# Times in the future are kept by dpkg-deb (it lowers only later ones to the release's) and
# make ninja configure again and again in an unpacked tarball.
define release_time_passed
	@[ "$(SOURCE_DATE_EPOCH)" -le "$$(date +%s)" ] || { echo "The release's time (debian/changelog's" \
	  "latest entry, $$(date -u -d @$(SOURCE_DATE_EPOCH))) is still to come: date the entry now (dch -r)"; exit 1; }
endef

# A Debian package made by Debian's own tools (debhelper, dpkg-buildpackage) from a copy of
# the sources in $(BUILD_DIR)/deb, then held to lintian: no error and no warning.
DEB_SOURCE := $(BUILD_DIR)/deb/streamlaunch-$(VERSION)

deb:
	$(call install_missing,$(DEB_PACKAGES))
	@changelog=$$(dpkg-parsechangelog -l debian/changelog -S Version); [ "$$changelog" = "$(VERSION)" ] || \
	  { echo "debian/changelog is at $$changelog, the project at $(VERSION): add an entry (dch -v $(VERSION))"; exit 1; }
	$(release_time_passed)
	rm -rf $(BUILD_DIR)/deb && mkdir -p $(DEB_SOURCE)
	tar -c CMakeLists.txt CMakePresets.json Makefile LICENSE src docs/streamlaunch.1 debian | tar -x -C $(DEB_SOURCE)
	cd $(DEB_SOURCE) && dpkg-buildpackage --build=binary --no-sign
	mv $(BUILD_DIR)/deb/streamlaunch_$(VERSION)_*.deb $(BUILD_DIR)/
	lintian --fail-on error,warning --info $(BUILD_DIR)/streamlaunch_$(VERSION)_*.deb

# The package installed with apt, run, and purged with what it brought (tests/package).
deb-check: deb
	$(call install_missing,$(DEB_CHECK_PACKAGES))
	$(SUDO) tests/package/check-deb.sh $(BUILD_DIR)/streamlaunch_$(VERSION)_*.deb

# The source release: the last commit's tree as streamlaunch-<version>/, with the release's
# time, sorted names, owner and group 0 and no time in the gzip header, so that one commit
# gives the same bytes wherever it is packed.
DIST_TARBALL := $(BUILD_DIR)/streamlaunch-$(VERSION).tar.gz
dist:
	$(call install_missing,git dpkg-dev)
	@git diff --quiet HEAD || { echo "make dist packs the last commit, and the tree has changes not committed:" \
	  "commit or stash them first"; exit 1; }
	$(release_time_passed)
	rm -rf $(BUILD_DIR)/dist && mkdir -p $(BUILD_DIR)/dist
	git -c tar.umask=022 archive --format=tar --prefix=streamlaunch-$(VERSION)/ HEAD | tar -x -p -C $(BUILD_DIR)/dist
	tar -c -C $(BUILD_DIR)/dist --format=gnu --sort=name --mtime=@$(SOURCE_DATE_EPOCH) --owner=0 --group=0 \
	  --numeric-owner --mode=go-w streamlaunch-$(VERSION) | gzip -n -9 >$(DIST_TARBALL)
	rm -rf $(BUILD_DIR)/dist
	@echo "$(DIST_TARBALL)"

# The three release artefacts side by side with their checksums, which `sha256sum -c
# SHA256SUMS` checks in that folder.
RELEASE_DIR := $(BUILD_DIR)/release
release: dist deb windows-dist
	rm -rf $(RELEASE_DIR) && mkdir -p $(RELEASE_DIR)
	cp $(DIST_TARBALL) $(BUILD_DIR)/streamlaunch_$(VERSION)_*.deb $(WINDOWS_ZIP) $(RELEASE_DIR)/
	cd $(RELEASE_DIR) && sha256sum streamlaunch* >SHA256SUMS && cat SHA256SUMS

bench: build bench-deps
	bench/launch.sh $(BUILD_DIR)/streamlaunch
	bench/startup.sh $(BUILD_DIR)
	bench/channel.sh $(BUILD_DIR)/streamlaunch
	cmake -S . -B $(BUILD_DIR)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTREAMLAUNCH_TESTS=OFF \
	  -DSTREAMLAUNCH_BENCH=ON
	cmake --build $(BUILD_DIR)-bench -j2
	bench/parse.sh $(BUILD_DIR)-bench/bench/parse_bench
	bench/http.sh $(BUILD_DIR)-bench/bench/http_bench

# Each parser of outside input under libFuzzer with ASan and UBSan for FUZZ_SECONDS. The
# corpus starts from fuzz/corpus and grows in the build folder; a crash fails the target
# and leaves its input there as crash-*.
fuzz: fuzz-deps
	cmake -S . -B $(BUILD_DIR)-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DSTREAMLAUNCH_FUZZ=ON -DSTREAMLAUNCH_TESTS=OFF $(if $(filter true,$(CI)),-DSTREAMLAUNCH_WERROR=ON)
	cmake --build $(BUILD_DIR)-fuzz -j2
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD_DIR)-fuzz/corpus/$$t && cp -n fuzz/corpus/$$t/* $(BUILD_DIR)-fuzz/corpus/$$t/ ; \
	  secs=$(FUZZ_SECONDS); case " $(FUZZ_SHORT_TARGETS) " in *" $$t "*) secs=$(FUZZ_SHORT_SECONDS);; esac; \
	  echo "== $${t}_fuzzer for $$secs s"; \
	  $(BUILD_DIR)-fuzz/fuzz/$${t}_fuzzer -max_total_time=$$secs -timeout=10 -rss_limit_mb=2048 \
	    -max_len=65536 -print_final_stats=1 -artifact_prefix=$(BUILD_DIR)-fuzz/$$t- \
	    $(BUILD_DIR)-fuzz/corpus/$$t 2>&1 | grep -E '^(stat::number_of_executed_units|Done|==|SUMMARY)|ERROR' ; \
	  [ $${PIPESTATUS[0]} -eq 0 ] || exit 1; \
	done

windows-deps:
	$(call install_missing,$(WINDOWS_PACKAGES))
	windows/build-deps.sh $(WINDOWS_DEPS)

$(WINDOWS_DIR)/build.ninja: | windows-deps
	cmake -S . -B $(WINDOWS_DIR) -G Ninja -DCMAKE_TOOLCHAIN_FILE=windows/mingw-w64-x86_64.cmake \
	  -DSTREAMLAUNCH_WINDOWS_DEPS=$(abspath $(WINDOWS_DEPS))/prefix $(CMAKE_FLAGS)

# One static program that needs no DLL beside it: every import must be the system's.
windows: windows-deps $(WINDOWS_DIR)/build.ninja
	cmake --build $(WINDOWS_DIR) -j2 --target streamlaunch
	@imports=$$(x86_64-w64-mingw32-objdump -p $(WINDOWS_DIR)/streamlaunch.exe | sed -n 's/.*DLL Name: //p'); \
	echo "$(WINDOWS_DIR)/streamlaunch.exe imports:" $$imports; \
	for dll in $$imports; do \
	  case "$${dll,,}" in kernel32.dll|advapi32.dll|crypt32.dll|ws2_32.dll|msvcrt.dll|shell32.dll) ;; \
	  *) echo "not a system DLL: $$dll"; exit 1 ;; esac; \
	done

# The program with the notes for Windows users and the licences, as text files with CR LF.
# The same commit gives the same zip: fixed member order, modes and times (the release's,
# stored as UTC).
WINDOWS_ZIP_FILES := streamlaunch.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt
windows-dist: windows
	rm -rf $(WINDOWS_DIR)/dist && mkdir -p $(WINDOWS_DIR)/dist
	install -m 755 $(WINDOWS_DIR)/streamlaunch.exe $(WINDOWS_DIR)/dist/
	sed 's/$$/\r/' windows/README.txt > $(WINDOWS_DIR)/dist/README.txt
	sed 's/$$/\r/' LICENSE > $(WINDOWS_DIR)/dist/LICENSE.txt
	sed 's/$$/\r/' THIRD-PARTY-NOTICES > $(WINDOWS_DIR)/dist/THIRD-PARTY-NOTICES.txt
	chmod 644 $(WINDOWS_DIR)/dist/*.txt
	TZ=UTC touch -d @$(SOURCE_DATE_EPOCH) $(addprefix $(WINDOWS_DIR)/dist/,$(WINDOWS_ZIP_FILES))
	rm -f $(WINDOWS_DIR)/streamlaunch-*-windows.zip
	cd $(WINDOWS_DIR)/dist && TZ=UTC python3 -m zipfile -c $(abspath $(WINDOWS_ZIP)) $(WINDOWS_ZIP_FILES)
	@echo "$(WINDOWS_ZIP)"

test-windows: windows-dist
	cmake --build $(WINDOWS_DIR) -j2
	windows/run-tests.sh $(WINDOWS_DIR) $(WINDOWS_ZIP)

# Each release artefact built twice, from two fresh copies of the tree at different paths
# and times, must come out byte for byte the same; diffoscope's report shows what differs
# (tests/package/check-repro.sh). REPRO names the artefacts: binary, zip, deb and tarball
# (from two clones of the last commit; it is then unpacked, built and run).
REPRO ?= binary zip deb tarball
repro-check: deps $(if $(filter zip,$(REPRO)),windows-deps)
	$(call install_missing,$(REPRO_PACKAGES) $(if $(filter deb,$(REPRO)),$(DEB_PACKAGES)) $(if $(filter tarball,$(REPRO)),git))
	WINDOWS_DEPS=$(abspath $(WINDOWS_DEPS)) tests/package/check-repro.sh $(REPRO)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench $(BUILD_DIR)-fuzz

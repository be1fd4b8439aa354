# The front door: make, make test, make demo, make bench, make screenshots,
# make install, make package.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps configure asan test demo bench clean cross-armhf cross-arm64 \
        cross-i386 test-armhf test-arm64 test-i386 install package screenshots

all: configure
	cmake --build $(BUILD) -j$(JOBS)

deps:
	@scripts/install-deps

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_ARGS)

# The plug-ins again, with AddressSanitizer and UBSan, for runs inside Pd.
asan: deps
	@test -f $(ASAN_BUILD)/CMakeCache.txt || cmake -S . -B $(ASAN_BUILD) \
		-DLORVEX_SANITIZE=ON -DLORVEX_TESTS=OFF -DLORVEX_TOOLS=OFF \
		-DLORVEX_PD_HOSTS_DIR=$(abspath $(BUILD))/pd-hosts $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

test: all asan
	cd $(BUILD) && ctest -j$(JOBS) --output-on-failure --timeout 600

demo: all
	@scripts/demo $(BUILD)

bench: all
	@scripts/bench $(BUILD)

# The README's pictures in docs/: the overview and help patches drawn by Pd's
# GUI under Xvfb, and the demo's spectrogram.
screenshots: all demo
	@scripts/screenshots $(BUILD)

# Cross builds for 32-bit ARM (armhf), 64-bit ARM (arm64) and 32-bit x86
# (i386), and their tests under qemu-user. Not part of make test: they take
# their time.
cross-armhf cross-arm64 cross-i386: cross-%: deps
	@scripts/install-deps cross
	scripts/cross $*

test-armhf test-arm64 test-i386: test-%: all cross-%
	scripts/test-cross $*

# Installs build/lorvex as the folder lorvex/ in Pd's per-user search path
# (PDLIBDIR), the command-line tools into BINDIR; DESTDIR stages.
PDLIBDIR ?= $(HOME)/.local/lib/pd/extra
BINDIR   ?= $(HOME)/.local/bin
install: all
	scripts/install $(BUILD) "$(DESTDIR)$(PDLIBDIR)" "$(DESTDIR)$(BINDIR)"

# One archive per platform for Pd's package manager, in build/package/, each
# checked by the package manager's own code.
package: all cross-armhf cross-arm64 cross-i386
	PD_HOSTS=$(BUILD)/pd-hosts scripts/package $(BUILD)/package $(BUILD) build-armhf build-arm64 build-i386

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-armhf build-arm64 build-i386

# The front door: make, make test, make demo, make bench, make screenshots,
# make install, make package, make deb, make test-windows, and the long runs: make fuzz, make soak.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps configure asan test demo bench clean cross-armhf cross-arm64 \
        cross-i386 cross-deliverables test-armhf test-arm64 test-i386 install \
        package deb screenshots fuzz soak

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
		-DLORVEX_PD_HOSTS_DIR=$(abspath $(BUILD))/pd-hosts \
		-DLORVEX_LIBPD_DIR=$(abspath $(BUILD))/pd-libpd $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# Every other architecture is built too (what users install, not run: that
# is make test-<arch>), so that one that stops building fails the tests,
# and its Debian package is made and checked among them; so is the Windows
# build (its plug-ins, linked; running them under wine is make test-windows).
test: all asan cross-deliverables windows-plugins
	cd $(BUILD) && ctest -j$(JOBS) --output-on-failure --timeout 600

# Fuzzing, longer than make test does it: each libFuzzer target for
# FUZZ_SECONDS (new corpus entries are kept in tests/fuzz/corpus/), then
# FUZZ_MESSAGES random messages per class in Pd (LORVEX_SEQFUZZ_SEED repeats a run).
FUZZ_SECONDS  ?= 180
FUZZ_MESSAGES ?= 10000
fuzz: all asan
	scripts/fuzz $(BUILD) $(FUZZ_SECONDS) $(FUZZ_MESSAGES)

# The soak tests at full length: strimo~ through 1000 connection cycles
# against each peer and SOAK_MINUTES of 32 channels, karbox through 1000
# allocations; make test runs them briefly.
SOAK_MINUTES ?= 10
soak: all
	cd $(BUILD) && LORVEX_SOAK=long LORVEX_SOAK_MINUTES=$(SOAK_MINUTES) \
		ctest -R '^pd\.soak_test\.' --output-on-failure --timeout 3600

demo: all
	@scripts/demo $(BUILD)

bench: all
	@scripts/bench $(BUILD)

# The README's pictures in docs/: the overview and help patches drawn by Pd's
# GUI under Xvfb, and the demo's spectrogram.
screenshots: all demo
	@scripts/screenshots $(BUILD)

# Cross builds for 32-bit ARM (armhf), 64-bit ARM (arm64) and 32-bit x86
# (i386), and their tests under qemu-user: make test builds what users
# install for each (cross-deliverables); the rest and the runs under
# emulation take their time, in make test-<arch>.
CROSS_ARCHS = arm64 armhf i386
cross-armhf cross-arm64 cross-i386: cross-%: deps
	@scripts/install-deps cross
	scripts/cross $*

cross-deliverables: deps
	@scripts/install-deps cross
	@for arch in $(CROSS_ARCHS); do scripts/cross $$arch deliverables || exit 1; done

test-armhf test-arm64 test-i386: test-%: all cross-%
	scripts/test-cross $*

# Installs build/lorvex as the folder lorvex/ in Pd's per-user search path
# (PDLIBDIR), the command-line tools into BINDIR and their manual pages into
# MANDIR/man1 (where man finds them for a BINDIR on the PATH); DESTDIR stages.
PDLIBDIR ?= $(HOME)/.local/lib/pd/extra
BINDIR   ?= $(HOME)/.local/bin
MANDIR   ?= $(HOME)/.local/share/man
install: all
	scripts/install $(BUILD) "$(DESTDIR)$(PDLIBDIR)" "$(DESTDIR)$(BINDIR)" "$(DESTDIR)$(MANDIR)"

# One archive per platform for Pd's package manager, in build/package/, each
# checked by the package manager's own code.
package: all cross-deliverables cross-windows
	@scripts/install-deps windows
	PD_HOSTS=$(BUILD)/pd-hosts scripts/package $(BUILD)/package $(BUILD) build-armhf build-arm64 build-i386 \
		build-windows

# Debian packages, pd-lorvex_<version>-1_<arch>.deb for amd64 (Pd and Pd64),
# arm64, armhf and i386, in build/deb/, each checked: lintian, its contents,
# its objects loaded in Pd of its architecture.
deb: all cross-deliverables
	PD_HOSTS=$(BUILD)/pd-hosts scripts/deb $(BUILD)/deb $(BUILD) build-arm64 build-armhf build-i386

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-armhf build-arm64 build-i386 build-windows

# 64-bit Windows: Pd for Windows cross-built from Pd's own source
# (build/pd-windows, kept), then lorvex with MinGW-w64 into build-windows/.
# make test builds and links the plug-ins (no wine there); test-windows runs
# the unit tests and every scenario in Pd for Windows under wine.
.PHONY: cross-windows windows-plugins test-windows
cross-windows: deps
	@scripts/install-deps windows-build
	JOBS=$(JOBS) scripts/cross-windows

windows-plugins: deps
	@scripts/install-deps windows-build
	JOBS=$(JOBS) scripts/cross-windows plugins

test-windows: all cross-windows
	@scripts/install-deps windows
	JOBS=$(JOBS) BUILD=$(abspath $(BUILD)) scripts/test-windows

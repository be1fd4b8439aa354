# The front door: make, make test, make demo, make bench, make install, make package.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps configure asan test demo bench clean

all: configure
	cmake --build $(BUILD) -j$(JOBS)

deps:
	@scripts/install-deps

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(CMAKE_ARGS)

# The plug-ins again, with AddressSanitizer and UBSan, for runs inside Pd.
asan: deps
	@test -f $(ASAN_BUILD)/CMakeCache.txt || cmake -S . -B $(ASAN_BUILD) \
		-DLORVEX_SANITIZE=ON -DLORVEX_TESTS=OFF -DLORVEX_TOOLS=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

test: all asan
	cd $(BUILD) && ctest -j$(JOBS) --output-on-failure --timeout 600

demo: all
	@scripts/demo $(BUILD)

bench: all
	@scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)

# Thin wrapper over CMake. `make run` builds and starts tavimor; `make test`
# builds and runs every test, in a normal build and under AddressSanitizer
# and UndefinedBehaviorSanitizer.
JOBS ?= 2
RUN := build/run
RELEASE := build/release
SANITIZE := build/sanitize
BENCH := build/bench
WINDOWS := build/windows
# Warnings are errors in CI only (CI=true there).
WERROR := $(if $(CI),ON,OFF)

.PHONY: all run test test-release test-sanitize windows windows-build bench clean

# The program alone, in a build of its own: no test or benchmark package
# is needed for it.
all:
	./tools/install-deps build
	cmake -S . -B $(RUN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_BENCH=OFF
	cmake --build $(RUN) -j $(JOBS) --target tavimor

run: all
	./$(RUN)/tavimor

# The packages go in before anything is configured, also under make -j.
# The Windows build is made first: the Release tests run it under wine.
test:
	./tools/install-deps test
	$(MAKE) windows-build
	$(MAKE) test-release
	$(MAKE) test-sanitize

# tavimor.exe for 64-bit Windows, cross-built with mingw-w64 and linked
# static: build/windows/tavimor.exe needs no DLLs.
windows:
	./tools/install-deps test
	$(MAKE) windows-build

windows-build:
	cmake -S . -B $(WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(WINDOWS) -j $(JOBS) --target tavimor

test-release:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DTAVIMOR_BENCH=ON -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(RELEASE) -j $(JOBS)
	ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DTAVIMOR_SANITIZE=ON -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(SANITIZE) -j $(JOBS)
	ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS) -LE 'exhaustive|wine'

bench:
	./tools/install-deps test
	cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_BENCH=ON
	cmake --build $(BENCH) -j $(JOBS)
	./$(BENCH)/bench/tavimor_bench

clean:
	rm -rf build

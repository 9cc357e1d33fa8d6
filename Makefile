# Thin wrapper over CMake. `make run` builds and starts tavimor; `make test`
# builds and runs every test, in a normal build and under AddressSanitizer
# and UndefinedBehaviorSanitizer.
JOBS ?= 2
RELEASE := build/release
SANITIZE := build/sanitize
BENCH := build/bench

.PHONY: all run test test-release test-sanitize deps bench clean

all:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(RELEASE) -j $(JOBS) --target tavimor

run: all
	./$(RELEASE)/tavimor

# Installs the Debian packages the tests use, where they are missing.
deps:
	./tools/install-test-deps

test: deps test-release test-sanitize

test-release:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DTAVIMOR_BENCH=ON
	cmake --build $(RELEASE) -j $(JOBS)
	ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DTAVIMOR_SANITIZE=ON
	cmake --build $(SANITIZE) -j $(JOBS)
	ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

bench:
	cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_BENCH=ON
	cmake --build $(BENCH) -j $(JOBS)
	./$(BENCH)/bench/tavimor_bench

clean:
	rm -rf build

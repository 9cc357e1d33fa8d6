# Thin wrapper over CMake. `make run` builds and starts tavimor; `make test`
# builds and runs every test, in a normal build and under AddressSanitizer
# and UndefinedBehaviorSanitizer.
JOBS ?= 2
RUN := build/run
RELEASE := build/release
SANITIZE := build/sanitize
BENCH := build/bench
WINDOWS := build/windows
PACKAGE := build/package
# Where `make install` puts the program, its manual page and completion.
PREFIX ?= /usr/local
# Warnings are errors in CI only (CI=true there).
WERROR := $(if $(CI),ON,OFF)

.PHONY: all run install package package-check test test-release test-sanitize windows windows-build bench clean

# The program alone, in a build of its own: no test or benchmark package
# is needed for it.
all:
	./tools/install-deps build
	cmake -S . -B $(RUN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_BENCH=OFF
	cmake --build $(RUN) -j $(JOBS) --target tavimor

run: all
	./$(RUN)/tavimor

# bin/tavimor, share/man/man1/tavimor.1, the bash completion and the README
# under PREFIX.
install: all
	cmake --build $(RUN) -j $(JOBS)
	cmake --install $(RUN) --prefix $(PREFIX)

# build/tavimor_<version>_amd64.deb, its dependencies worked out by
# dpkg-shlibdeps.
# Built with the distribution's hardening flags (bind now, fortified
# functions, stack protector), as Debian builds its packages.
package:
	./tools/install-deps build
	rm -rf $(PACKAGE)
	CXXFLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(PACKAGE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_BENCH=OFF -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(PACKAGE) -j $(JOBS)
	cd $(PACKAGE) && cpack
	cp $(PACKAGE)/tavimor_*_amd64.deb build/

# What CI asks of the package: lintian finds no error in it, nor a missing
# hardening flag, and installed it runs and has its manual page.
# Installing needs root.
package-check: package
	lintian -I --pedantic build/tavimor_*_amd64.deb | tee build/lintian.txt
	! grep -q '^E:' build/lintian.txt
	! grep -q 'hardening-no' build/lintian.txt
	dpkg -i build/tavimor_*_amd64.deb
	tavimor --version
	man -w tavimor

# The packages go in before anything is configured, also under make -j.
# The Windows build is made first: the Release tests run it under wine.
test:
	./tools/install-deps test
	$(MAKE) windows-build
	$(MAKE) test-release
	$(MAKE) test-sanitize

# tavimor.exe for 64-bit Windows, cross-built with mingw-w64 and linked
# static (build/windows/tavimor.exe needs no DLLs), and the zip of it with
# its README.
windows:
	./tools/install-deps test
	$(MAKE) windows-build

windows-build:
	cmake -S . -B $(WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(WINDOWS) -j $(JOBS) --target tavimor zip

test-release:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DTAVIMOR_BENCH=ON -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(RELEASE) -j $(JOBS)
	ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DTAVIMOR_SANITIZE=ON -DTAVIMOR_WERROR=$(WERROR)
	cmake --build $(SANITIZE) -j $(JOBS)
	ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS) -LE 'exhaustive|wine|measures|blender'

bench:
	./tools/install-deps test
	cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTAVIMOR_BENCH=ON
	cmake --build $(BENCH) -j $(JOBS)
	./$(BENCH)/bench/tavimor_bench

clean:
	rm -rf build

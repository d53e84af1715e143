# The one entry point: `make test` and `make demo` install what they need, build and run.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan

PACKAGES := cmake ninja-build g++ clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql postgresql qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n libgl-dev sqlite3 locales \
            libcli11-dev nlohmann-json3-dev python3 \
            fonts-liberation poppler-utils \
            libqt6svg6 xvfb xauth chromium prometheus \
            debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream systemd udev help2man pkgconf

# The Windows DLL (make windows) and its stage of make test: Debian's MinGW-w64 cross compiler
# (the POSIX thread model) and Wine 64-bit. Installed only by those two targets.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64
WINDOWS_BUILD ?= build-windows

.PHONY: all deps build build-asan check test test-plain test-asan test-fuzz test-packages package package-check demo \
        bench format format-check clean deps-windows windows test-windows

all: build

deps:
	@./scripts/install-deps $(PACKAGES)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRA_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Both variants run: the plain build, then the same suites under ASan and UBSan, then a short
# fuzzing run of the stream reader, then the Windows DLL under Wine, then the Debian packages are
# built and checked. CI runs exactly this.
FUZZ_SECONDS ?= 30

test: format-check test-plain test-asan test-fuzz test-windows test-packages

# The edit-and-test loop: the plain build and its tests only.
check: format-check test-plain

# The house format (.clang-format) holds for every C++ file; `make format` mends what it finds.
format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

test-fuzz: deps
	./scripts/fuzz-stream $(FUZZ_SECONDS)
	./scripts/fuzz-http $(FUZZ_SECONDS)

# KESTRAdrv.dll with its import library KESTRAdrv.lib and KESTRAdrv.def, cross-built for 64-bit
# Windows, and the test program that binds it by ordinal.
deps-windows:
	@./scripts/install-deps $(WINDOWS_PACKAGES)

$(WINDOWS_BUILD)/build.ninja:
	cmake -S driver/windows -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/driver/windows/mingw-w64-x86_64.cmake

windows: deps-windows $(WINDOWS_BUILD)/build.ninja
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The DLL under Wine against the simulator; where the cross compiler and Wine cannot be
# installed, or Wine cannot run, one line says so.
test-windows: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target kestra-sim kestractl
	@if ./scripts/install-deps $(WINDOWS_PACKAGES) >$(BUILD)/install-windows.log 2>&1; then \
	    $(MAKE) --no-print-directory windows && ./scripts/test-windows $(BUILD) $(WINDOWS_BUILD); \
	else \
	    echo "test-windows: skipped: MinGW-w64 and Wine cannot be installed here (see $(BUILD)/install-windows.log)"; \
	fi

# The Debian packages, built from a clean copy of the tree into $(BUILD)/packages/, two jobs.
PACKAGE_DIR ?= $(BUILD)/packages
PACKAGE_JOBS ?= 2

package: deps
	JOBS=$(PACKAGE_JOBS) ./scripts/package $(PACKAGE_DIR)

package-check: package
	./scripts/check-packages $(PACKAGE_DIR)

# The fourth stage of make test: where Debian's package tools cannot run, one line says so.
test-packages: deps
	@if command -v dpkg-buildpackage >/dev/null && command -v dh >/dev/null; then \
	    $(MAKE) --no-print-directory package-check; \
	else \
	    echo "test-packages: skipped: dpkg-buildpackage and debhelper cannot run here"; \
	fi

# Only the programs the demo runs (and what they link), not every test and benchmark.
DEMO_TARGETS := kestra-sim kestractl kestra-cli KESTRA kestra-window-demo

demo: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS)
	./scripts/demo $(BUILD)

bench: build
	./scripts/run-benchmarks $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WINDOWS_BUILD)

# Front door: `make run` starts the agent, `make test` runs every test.
# Both install the missing Debian packages first (tools/packages.txt).

BUILD ?= build
WERROR := $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=
CTEST := ctest --output-on-failure --timeout 300 -j2

.PHONY: all deps configure build agent test run run-check console clean package package-check asan tsan tsan-link tsan-configure fuzz bench bench-windows format format-check tidy windows windows-configure test-windows

all: build

deps:
	@tools/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DQUORVIN_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	cd $(BUILD) && $(CTEST) -LE gui
	cd $(BUILD) && $(CURDIR)/tools/with-display $(CTEST) -L gui

# The unit and integration tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(BUILD)-asan -G Ninja -DQUORVIN_WERROR=$(WERROR) -DQUORVIN_SANITIZE=ON -DQUORVIN_BENCH=OFF -DQUORVIN_GUI=OFF >/dev/null
	@cmake --build $(BUILD)-asan
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST) -L 'unit|integration'

# Unit and integration tests under ThreadSanitizer; any report fails the
# test. tools/tsan.supp holds the few known reports inside uninstrumented
# libraries (glib, cairo, glibc), each explained.
TSAN_OPTIONS_ALL := suppressions=$(CURDIR)/tools/tsan.supp halt_on_error=1 second_deadlock_stack=1
tsan: tsan-configure
	@cmake --build $(BUILD)-tsan
	cd $(BUILD)-tsan && TSAN_OPTIONS="$(TSAN_OPTIONS_ALL)" $(CTEST) -L 'unit|integration'

# The link tests alone (both links, the WebSocket client, the command set
# over both links) under ThreadSanitizer, for a quick look.
TSAN_LINK_TESTS := test_message test_link_tcp test_link_ws test_wsclient test_wsclient_unit test_commands
tsan-link: tsan-configure
	@cmake --build $(BUILD)-tsan --target $(TSAN_LINK_TESTS)
	@set -e; cd $(BUILD)-tsan && for t in $(TSAN_LINK_TESTS); do \
	  echo "tsan: $$t"; TSAN_OPTIONS="$(TSAN_OPTIONS_ALL)" ./$$t --gtest_brief=1; done

tsan-configure: deps
	@cmake -S . -B $(BUILD)-tsan -G Ninja -DQUORVIN_TSAN=ON -DQUORVIN_BENCH=OFF -DQUORVIN_GUI=OFF >/dev/null

# The 32-bit Windows build (mingw-w64, cmake/mingw-i686.cmake) in
# $(BUILD)-windows: the subsystems ported so far and their tests, which
# make test-windows runs under wine (cmake/wine-run keeps a wine prefix in
# the build folder). Both install what they need first
# (tools/install-deps --windows).
WIN_BUILD := $(BUILD)-windows
windows-configure:
	@tools/install-deps --windows
	@cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	  -DQUORVIN_WERROR=$(WERROR) -DQUORVIN_GUI=OFF >/dev/null

windows: windows-configure
	@cmake --build $(WIN_BUILD)

# Under wine's default code page (1252), then again under the target
# machines' (936, GBK).
test-windows: windows
	cd $(WIN_BUILD) && $(CTEST)
	cd $(WIN_BUILD) && QUORVIN_WINE_LOCALE=zh_CN.UTF-8 $(CTEST)

# The TCP link's round trips under wine against the same echo peer as on
# Linux (bench/link/LinkBench.cpp), with Google Benchmark built from
# Debian's sources.
bench-windows: windows
	@cmake --build $(WIN_BUILD) --target bench_link
	cd $(WIN_BUILD) && $(CURDIR)/cmake/wine-run $(CURDIR)/$(WIN_BUILD)/wine-prefix ./bench_link.exe

# The libFuzzer targets (clang, with ASan and UBSan), each for FUZZ_SECONDS
# on a copy of its seed corpus in the build folder; any finding fails: the
# WebSocket client's frame parser and handshake reader, the TCP link's framer,
# the envelope reader with the dispatcher, the script bridge's parameters, the
# HTTP client's URL reader, the code page converters and config.json loading.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := FrameParserFuzz HandshakeFuzz MessageFramerFuzz DispatchFuzz BridgeFuzz \
	UrlFuzz CodePageFuzz StartupConfigFuzz
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -G Ninja -DQUORVIN_WERROR=$(WERROR) -DQUORVIN_FUZZ=ON -DQUORVIN_GUI=OFF -DQUORVIN_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(BUILD)-fuzz --target $(FUZZ_TARGETS)
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD)-fuzz/corpus/$$t $(BUILD)-fuzz/findings; \
	  cp tests/fuzz/corpus/$$t/* $(BUILD)-fuzz/corpus/$$t/; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  $(BUILD)-fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -verbosity=0 -print_final_stats=1 \
	    -artifact_prefix=$(BUILD)-fuzz/findings/$$t- $(BUILD)-fuzz/corpus/$$t; \
	done

# Layout (.clang-format) of the code, the benchmarks, the test fixtures and
# the fuzz targets. The test files themselves keep their hand-laid case
# tables and byte strings split at hex escapes, which the formatter would
# break apart one value per line.
FORMAT_FILES = $(shell git ls-files 'src/*.cpp' 'src/*.h' 'bench/*.cpp' 'bench/*.h' \
	'tests/fixtures/*.cpp' 'tests/fixtures/*.h' 'tests/fuzz/*.cpp' 'tests/fuzz/*.h')
format:
	@clang-format -i $(FORMAT_FILES)
format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES)

# The static checks of .clang-tidy on every source file of the agent; any
# finding fails.
tidy: configure
	@run-clang-tidy -p $(BUILD) -j 2 -quiet '$(CURDIR)/src/' >$(BUILD)/tidy.log 2>&1 || { \
	  grep -E 'warning:|error:' $(BUILD)/tidy.log | sort -u; exit 1; }
	@echo "tidy: no findings"

# The Debian package (packaging/), built with Debian's hardening flags into
# $(BUILD)-package/quorvin_<version>_<arch>.deb.
PKG_BUILD := $(BUILD)-package
PKG_FLAGS = $(shell DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get $(1))
package: deps
	@cmake -S . -B $(PKG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
	  -DQUORVIN_WERROR=$(WERROR) -DBUILD_TESTING=OFF -DQUORVIN_BENCH=OFF \
	  -DCMAKE_C_FLAGS="$(call PKG_FLAGS,CFLAGS) $(call PKG_FLAGS,CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$(call PKG_FLAGS,CXXFLAGS) $(call PKG_FLAGS,CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(call PKG_FLAGS,LDFLAGS)" >/dev/null
	@cmake --build $(PKG_BUILD)
	@rm -f $(PKG_BUILD)/quorvin_*.deb
	@cd $(PKG_BUILD) && cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
	@ls $(PKG_BUILD)/quorvin_*.deb

# lintian, systemd-analyze verify, then install, run headless against a
# loopback server and purge (as root: it installs the package).
package-check: package
	tools/package-check $(PKG_BUILD)/quorvin_*.deb

bench: build
	@echo "Benchmarks are in $(BUILD)/bench; see bench/README.md"

# The reference server console (unless one runs), a spooler (a private one
# when none runs), and the agent connected to the console: with its window
# when there is a display, headless otherwise (tools/run).
run: agent
	@tools/run $(BUILD)

# make run without a window, until the console lists the agent on both links.
run-check: agent
	@tools/run $(BUILD) --check

# The agent's two executables alone (make run needs no tests built).
agent: configure
	@cmake --build $(BUILD) --target quorvin quorvin-headless

# The console alone, in the foreground (console/README.md).
console: deps
	node console/quorvin-console.js

clean:
	@if [ -d $(WIN_BUILD)/wine-prefix ]; then WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine-prefix wineserver -k 2>/dev/null || true; fi
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(BUILD)-package $(WIN_BUILD)

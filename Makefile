# The project's two commands: `make` builds everything into $(B)/dist, `make test` runs
# every test. Both install what they need first (scripts/setup-deps).
#
# B chooses the build folder (default: build). JOBS the parallel build jobs.

B ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= 2
BUILD := $(abspath $(B))
DIST := $(BUILD)/dist
DEPS := $(abspath build)/deps
WINE_DIR := $(BUILD)/wine
export WB_WINE_DIR := $(WINE_DIR)

CMAKE_PATHS = -DWB_DIST_DIR=$(DIST) -DWB_SCREENSHOT_DIR=$(BUILD)/screenshots \
              -DWB_WINE_DIR=$(WINE_DIR) -DWB_DEPS_DIR=$(DEPS)
CMAKE_CFG = cmake -S . --log-level=WARNING -Wno-dev

.PHONY: all deps host win example host-test win-test test fuzz demo bench clean

all: host win example

deps:
	@scripts/setup-deps $(abspath build)

# The package builder and the host side of the project, optimised.
host: deps
	@$(CMAKE_CFG) -B $(BUILD)/host -DCMAKE_BUILD_TYPE=Release -DWB_TESTS=OFF $(CMAKE_PATHS) >/dev/null
	@cmake --build $(BUILD)/host -j$(JOBS)

# The Windows programs, cross-compiled.
win: deps
	@$(CMAKE_CFG) -B $(BUILD)/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DCMAKE_BUILD_TYPE=Release -DWB_TESTS=ON $(CMAKE_PATHS) >/dev/null
	@cmake --build $(BUILD)/win --target dist -j$(JOBS)

# The example installer, made from the example's jar in one command: wickerbay-pack app
# puts the application folder together (the jar, vmkick.exe and __uninst.exe from the dist
# folder, vmkick.cfg with the oldest Java read from the jar, the resources), writes the
# manifest and builds. The same command with --emit leaves that folder and manifest in
# $(EXAMPLE), for the road test to compare the installation with and for the demo to
# pack again.
EXAMPLE := $(BUILD)/example
EXAMPLE_APP = --jar $(DIST)/hello.jar --name "Hello World" --publisher "Orvanstead Examples" \
              --website https://example.org/hello/ --licence examples/hello/LICENSE.txt \
              --resources examples/hello/resources
example: host win
	@$(DIST)/wickerbay-pack app $(EXAMPLE_APP) -j $(JOBS) -o $(DIST)/HelloSetup.exe
	@rm -rf $(EXAMPLE)
	@$(DIST)/wickerbay-pack app $(EXAMPLE_APP) --emit $(EXAMPLE) >/dev/null

# Host unit tests and fuzz smoke runs, built with clang, AddressSanitizer and UBSan.
host-test: deps
	@CC=clang CXX=clang++ $(CMAKE_CFG) -B $(BUILD)/host-test -DCMAKE_BUILD_TYPE=Debug \
	    -DWB_SANITIZE=ON -DWB_FUZZ=ON -DWB_FUZZ_LONG=OFF $(CMAKE_PATHS) >/dev/null
	@cmake --build $(BUILD)/host-test -j$(JOBS)
	@echo "== host tests (AddressSanitizer + UBSan)"
	@cd $(BUILD)/host-test && ctest --output-on-failure $(CTEST_ARGS)

# Windows unit and end-to-end tests, one Wine session for the whole run.
win-test: all
	@cmake --build $(BUILD)/win -j$(JOBS)
	@echo "== Windows tests under Wine"
	@scripts/wine-run start
	@cd $(BUILD)/win && ctest --output-on-failure $(CTEST_ARGS); \
	    status=$$?; $(CURDIR)/scripts/wine-run stop; exit $$status

test: host-test win-test

# The fuzz targets for a few minutes each (make test runs them only briefly).
fuzz: deps
	@CC=clang CXX=clang++ $(CMAKE_CFG) -B $(BUILD)/host-test -DCMAKE_BUILD_TYPE=Debug \
	    -DWB_SANITIZE=ON -DWB_FUZZ=ON -DWB_FUZZ_LONG=ON $(CMAKE_PATHS) >/dev/null
	@cmake --build $(BUILD)/host-test -j$(JOBS)
	@cd $(BUILD)/host-test && ctest -L fuzz-long --output-on-failure; status=$$?; \
	    cd $(CURDIR) && $(CMAKE_CFG) -B $(BUILD)/host-test -DWB_FUZZ_LONG=OFF >/dev/null; exit $$status

# The example's road under Wine, a screenshot of every step in $(BUILD)/screenshots
# (adds a Java runtime with a display, so that the example's window can be seen).
demo: all
	@scripts/setup-deps $(abspath build) --demo
	@scripts/demo $(BUILD)

# The benchmarks, each figure against its anchor in the same run (adds NSIS, the peer).
bench: all
	@scripts/setup-deps $(abspath build) --bench
	@bench/run $(BUILD)

clean:
	rm -rf $(BUILD)/host $(BUILD)/win $(BUILD)/host-test $(BUILD)/dist $(BUILD)/wine $(BUILD)/screenshots

# The whole set-up on a fresh Debian machine: `make run` builds the application alone and starts it
# (`make demo`: on a virtual printer), `make test` builds everything and runs the tests. Both
# install the packages they need first (scripts/bootstrap).
# `make install [PREFIX=...]` and `make deb` build the application alone, optimised, in
# $(RELEASE) (no tests), and install it or make its Debian package there.
# `make bench [RESULTS=1]` builds the benchmark programs optimised in build-bench, runs them and
# prints their table (RESULTS=1 also writes it to bench/results.md).
# `make fuzz` builds the libFuzzer targets of fuzz/ with clang in $(FUZZ_BUILD); `make fuzz-smoke`
# also runs each for FUZZ_SECONDS seconds and fails when one finds a fault (scripts/fuzz-smoke).
# `make tidy` runs clang-tidy (.clang-tidy) over the product code with the compile database of an
# unsplit configuration in $(TIDY_BUILD); any finding fails it. Not part of CI (minutes on 2 cores).
# `make format` formats every C++ file of the repository with .clang-format; `make format-check`
# fails on any file that is not formatted (CI runs it first: seconds).
BUILD      ?= build
RELEASE    ?= build-release
FUZZ_BUILD ?= build-fuzz
TIDY_BUILD ?= build-tidy
FUZZ_CXX   ?= clang++-14
FUZZ_SECONDS ?= 30
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all bootstrap build app run demo test test-asan test-tsan install deb bench fuzz fuzz-smoke tidy format format-check clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The window alone: not the tests, nor the command-line program.
app: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target printer-maintenance

run: app
	$(BUILD)/printer-maintenance

demo: app
	PRINTER_MAINTENANCE_SIMULATE=$${PRINTER_MAINTENANCE_SIMULATE:-PZA} $(BUILD)/printer-maintenance

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_ARGS="-DPM_SANITIZE=address"

test-tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan CMAKE_ARGS="-DPM_SANITIZE=thread"

$(RELEASE)/build.ninja:
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPM_TESTS=OFF $(CMAKE_ARGS)

install: bootstrap $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)
	cmake --install $(RELEASE) --prefix $(PREFIX)

deb: bootstrap $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)
	cd $(RELEASE) && cpack -G DEB
	@ls -1 $(RELEASE)/*.deb

bench:
	@RESULTS=$(RESULTS) JOBS=$(JOBS) bench/run

# The fuzz build needs clang and libFuzzer's runtime beside the usual packages.
$(FUZZ_BUILD)/build.ninja:
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(FUZZ_CXX)

fuzz:
	@scripts/bootstrap clang-14 libclang-rt-14-dev
	@$(MAKE) --no-print-directory $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz-smoke: fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz-smoke $(FUZZ_BUILD)

# Unity batches would hide which file a finding is in: each source is its own entry here.
$(TIDY_BUILD)/build.ninja:
	cmake -S . -B $(TIDY_BUILD) -G Ninja -DCMAKE_UNITY_BUILD=OFF -DPM_TESTS=OFF $(CMAKE_ARGS)

tidy:
	@scripts/bootstrap clang-tidy-14
	@$(MAKE) --no-print-directory $(TIDY_BUILD)/build.ninja
	cmake --build $(TIDY_BUILD) --target pm_support_autogen
	run-clang-tidy-14 -quiet -p $(TIDY_BUILD) -j $(JOBS) \
	  '/(app|app/main|cli|cli/main|usb|usb/libusb|usb/virtual|olm/protocol|olm/model|olm/update|olm/printer|support|sim)/[^/]*\.cpp$$'

format:
	@scripts/bootstrap clang-format
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i

format-check:
	@scripts/bootstrap clang-format
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-tidy

# The whole set-up on a fresh Debian machine: `make run` starts the application, `make test` runs
# the tests. Both install the packages they need first (scripts/bootstrap).
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all bootstrap build run demo test test-asan test-tsan clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/printer-maintenance

demo: build
	PRINTER_MAINTENANCE_SIMULATE=$${PRINTER_MAINTENANCE_SIMULATE:-PZA} $(BUILD)/printer-maintenance

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_ARGS="-DPM_SANITIZE=address"

test-tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan CMAKE_ARGS="-DPM_SANITIZE=thread"

clean:
	rm -rf build build-asan build-tsan

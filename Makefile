# The two everyday commands are `make run` and `make test`; every target
# first installs whatever system packages are missing.

BUILD        ?= build
BUILD_TYPE   ?= RelWithDebInfo
FUZZ_SECONDS ?= 60
JOBS         ?= $(shell nproc)

CMAKE_CONFIGURE = cmake -S . -G Ninja -Wno-dev

.PHONY: all deps configure build run demo test sanitize bench fuzz format clean install package

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	$(CMAKE_CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts the desktop program (FILE=path opens a configuration); without a
# display it says so and points to tessaro-cli.
run: build
	scripts/run-desktop $(BUILD) $(FILE)

# Simulated devices and the desktop program recording them.
demo: build
	scripts/run-demo $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Programs, desktop entry, icons, manual pages and the recorder service under
# PREFIX (default /usr/local); DESTDIR=... stages them elsewhere.
install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, into $(BUILD).
package: build
	cmake --build $(BUILD) --target package

# The whole test suite under AddressSanitizer and UBSan.
sanitize: deps
	$(CMAKE_CONFIGURE) -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSARO_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

bench: deps
	$(CMAKE_CONFIGURE) -B build-bench -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	cmake --build build-bench --target run-benchmarks

fuzz: deps
	CC=clang CXX=clang++ $(CMAKE_CONFIGURE) -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzzers build-fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-bench build-fuzz

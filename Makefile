# The two commands of the README: `make run` and `make test`. Both set up what is missing,
# configure and build first.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all setup configure build run test test-sanitize bench package clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/app/imbrix ]; then $(BUILD)/app/imbrix; \
	else echo "Built the libraries, tests and imbrix-batch in $(BUILD)/; the window is not part of this build yet."; fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: setup
	@test -f $(SANITIZE_BUILD)/CMakeCache.txt || cmake -S . -B $(SANITIZE_BUILD) $(GENERATOR) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMBRIX_SANITIZE=ON -DIMBRIX_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1200

bench: setup
	@bash scripts/setup.sh --bench
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# The Debian package, $(BUILD)/imbrix_<version>_<arch>.deb (install: sudo apt install ./$(BUILD)/imbrix_*.deb).
package: setup
	@bash scripts/setup.sh --package
	@# Configured again if it was before: the icon renderer the set-up just installed is looked for anew.
	@if [ -f $(BUILD)/CMakeCache.txt ]; then cmake $(BUILD) >/dev/null; \
	else cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo; fi
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)

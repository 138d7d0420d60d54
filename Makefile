# make run: install what is missing, build, start the viewer.
# make test: install what is missing, build, run every test.
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run test bench fuzz fuzz-smoke clean

all: build

deps:
	@bash tools/install_deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	./$(BUILD)/qevtest

test: build fuzz-build
	cd $(BUILD) && ctest --output-on-failure -j2 -LE e2e
	cd $(BUILD) && ctest --output-on-failure -L e2e
	@bash tools/fuzz/run.sh $(FUZZ_BUILD) 5

bench: build
	./$(BUILD)/qev_bench

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DQEV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzz_targets

fuzz: fuzz-build
	@bash tools/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)

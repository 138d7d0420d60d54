# make run: install what is missing, build, start the viewer on the sample
# character walking, drawn solid and shaded.
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
	./$(BUILD)/qevtest --solid $(abspath $(BUILD))/sample/sample.pmd $(abspath $(BUILD))/sample/walk.vmd

test: build fuzz-build
	@bash tools/fuzz/run.sh $(FUZZ_BUILD) 5
	cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	./$(BUILD)/qev_bench

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DQEV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzz_targets

fuzz: fuzz-build
	@bash tools/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)

# Front door: wraps CMake. See README.md.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_NEEDS = g++ cmake libgtest-dev

.PHONY: all build test sanitize demo needs clean

all: build

needs:
	@bash tools/needs.sh $(BUILD_NEEDS)

$(BUILD)/CMakeCache.txt: | needs
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: needs $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize: needs
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Release -DSPINMAP_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

demo: build
	@bash tools/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)

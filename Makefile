# Paperwright top-level driver.
#   make demo   install dependencies, build, convert the bundled sample
#   make test   install dependencies, check the source layout, build, run every test, then again under
#               ASan+UBSan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SAN_BUILD ?= build-asan

.PHONY: all deps build build-asan test test-release test-asan check-format demo fuzz clean

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_SANITIZE=ON -DPW_BENCH=OFF
	cmake --build $(SAN_BUILD) -j $(JOBS)

test-release: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

check-format: deps
	bash scripts/check-format.sh

test: check-format test-release test-asan

demo: build
	@bash scripts/demo.sh $(BUILD)

fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_FUZZ=ON -DPW_BENCH=OFF \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS) --target fuzz_load fuzz_reader fuzz_content fuzz_images fuzz_emf \
	  fuzz_cmap fuzz_fonts

clean:
	rm -rf $(BUILD) $(SAN_BUILD) build-fuzz

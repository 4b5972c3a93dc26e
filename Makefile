# Moonforge Orbkit. `make run` builds and runs the sample game; `make test`
# builds and runs every test. Both install what they need first.
BUILD ?= build
GAME ?=
OUT ?=
JOBS ?= $(shell nproc)

.PHONY: all deps mruby configure run test test-unit test-asan test-tsan package bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@bash scripts/deps.sh

# The patched interpreter lives in a cache outside the clone; its prefix is
# recorded in the build folder for CMake.
mruby: deps
	@mkdir -p $(BUILD)
	@bash scripts/build_mruby.sh > $(BUILD)/.mruby-prefix.new
	@cmp -s $(BUILD)/.mruby-prefix.new $(BUILD)/.mruby-prefix || mv $(BUILD)/.mruby-prefix.new $(BUILD)/.mruby-prefix
	@rm -f $(BUILD)/.mruby-prefix.new

configure: mruby
	@if [ ! -f $(BUILD)/build.ninja ] || [ $(BUILD)/.mruby-prefix -nt $(BUILD)/build.ninja ]; then \
	  cmake -S . -B $(BUILD) -G Ninja -DMOONFORGE_MRUBY_DIR="$$(cat $(BUILD)/.mruby-prefix)"; fi

run: all
	$(BUILD)/moonforge samples/mygame

test: all
	@bash scripts/test.sh $(BUILD)

test-unit: all
	ctest --test-dir $(BUILD) -R '^unit\.' --output-on-failure

test-asan: mruby
	@bash scripts/test.sh --only asan $(BUILD)

test-tsan: mruby
	@bash scripts/test.sh --only tsan $(BUILD)

package: all
	@test -n "$(GAME)" || { echo "usage: make package GAME=path/to/game [OUT=file]"; exit 2; }
	bash scripts/package.sh $(BUILD)/moonforge "$(GAME)" "$(if $(OUT),$(OUT),$(BUILD)/package/$(notdir $(abspath $(GAME))))"

bench: all
	python3 bench/startup.py $(BUILD)/moonforge
	python3 bench/runtime.py $(BUILD)/moonforge
	python3 bench/draw.py $(BUILD)/bench_draw
	python3 bench/bunnymark.py $(BUILD)/bench_outputs

clean:
	rm -rf $(BUILD) build-asan build-tsan

# make demo: install what is missing, build wrenfold.exe, run it under Wine.
# make test: install what is missing, build both builds, run every test.
# make bench: the pass over large simulated computers, then wrenfold.exe under
#   Wine against Wine's reg query (BENCH_ARGS go to the native benchmark).
# make dist: the release archive dist/wrenfold-<version>-win64.zip.

NATIVE_DIR := build/native
WIN_DIR    := build/win
BENCH_DIR  := build/bench
EXE        := $(CURDIR)/$(WIN_DIR)/wrenfold.exe
HELPERS    := $(CURDIR)/$(NATIVE_DIR)/tools/wine

.PHONY: all deps native win test demo dist bench clean

all: native win

deps:
	@scripts/install-deps.sh

win: deps
	@cmake -S . -B $(WIN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-clang.cmake >/dev/null
	@cmake --build $(WIN_DIR)

native: deps
	@cmake -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWRENFOLD_SANITIZE=ON \
	  -DWRENFOLD_EXE=$(EXE) >/dev/null
	@cmake --build $(NATIVE_DIR)

test: win native
	@cd $(NATIVE_DIR) && ctest --output-on-failure -j2
	@python3 scripts/test_dist.py
	@python3 scripts/test_demo.py $(EXE) $(HELPERS)
	@ansible-playbook --syntax-check -i contrib/ansible/inventory.example.ini \
	  contrib/ansible/wrenfold-fleet.yml >/dev/null && echo "contrib/ansible: syntax OK"

# The demo stages its Wine prefix with the scenario bench's helpers, which
# the native build makes (only that target is built here).
demo: win
	@cmake -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWRENFOLD_SANITIZE=ON \
	  -DWRENFOLD_EXE=$(EXE) >/dev/null
	@cmake --build $(NATIVE_DIR) --target wine_helpers
	@scripts/demo.sh $(EXE) $(HELPERS)

dist: win
	@python3 scripts/dist.py --exe $(EXE) --out-dir dist

bench: win
	@cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DWRENFOLD_BENCH=ON \
	  -DWRENFOLD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_DIR)
	@$(BENCH_DIR)/wrenfold_bench $(BENCH_ARGS)
	@tests/bench/wine_bench.py --exe $(EXE) --work-dir $(BENCH_DIR)/wine

clean:
	rm -rf build

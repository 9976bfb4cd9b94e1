# make demo: install what is missing, build wrenfold.exe, run it under Wine.
# make test: install what is missing, build both builds, run every test.

NATIVE_DIR := build/native
WIN_DIR    := build/win
EXE        := $(CURDIR)/$(WIN_DIR)/wrenfold.exe

.PHONY: all deps native win test demo clean

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

demo: win
	@scripts/demo.sh $(EXE)

clean:
	rm -rf build

# make demo: install what is missing, build wrenfold.exe, run it under Wine.
# make test: install what is missing, build both builds, run every test.
# make bench: the pass over large simulated computers, then wrenfold.exe under
#   Wine against Wine's reg query (BENCH_ARGS go to the native benchmark).
# make bench-powershell: Invoke-Wrenfold on two computers at once against one.
# make lint: clang-tidy and cppcheck over the project's own code.
# make dist: the release archive dist/wrenfold-<version>-win64.zip (signed
#   with SIGN_CERT and SIGN_KEY when they are given).
# make fuzz: each libFuzzer target in turn for FUZZ_SECONDS (default 60),
#   going on past findings; they are listed at the end.
# make mutants: the planted faults of testing/mutants/mutants.json, one at a
#   time in a copy of the tree; says which ones no test catches.

NATIVE_DIR := build/native
WIN_DIR    := build/win
BENCH_DIR  := build/bench
FUZZ_DIR   := build/fuzz
FUZZ_SECONDS ?= 60
EXE        := $(CURDIR)/$(WIN_DIR)/wrenfold.exe
HELPERS    := $(CURDIR)/$(NATIVE_DIR)/testing/wine
# PowerShell (a .NET global tool) and Pester, as scripts/install-deps.sh
# installs them.
PWSH       := PATH="$$HOME/.dotnet/tools:$$PATH" pwsh -NoProfile -NonInteractive
PESTER     := $(CURDIR)/build/nuget/pester/5.7.1/tools/Pester.psd1
PS_WORK    := $(CURDIR)/build/powershell

.PHONY: all deps native win test lint demo dist bench bench-powershell fuzz fuzz-build mutants clean

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

test: win native fuzz-build
	@cd $(NATIVE_DIR) && ctest --output-on-failure -j2
	@testing/fuzz/run.sh $(FUZZ_DIR) 5
	@python3 tests/release/test_dist.py $(EXE)
	@python3 tests/release/test_demo.py $(EXE) $(HELPERS)
	@python3 tests/release/test_readme.py $(EXE) $(HELPERS)
	@python3 tests/contrib/test_summary.py $(EXE) $(HELPERS) $(CURDIR)/$(NATIVE_DIR)/wrenfold
	@$(PWSH) -File tests/contrib/powershell/run.ps1 -Pester $(PESTER) -Exe $(EXE) \
	  -Helpers $(HELPERS) -Work $(PS_WORK)
	@ansible-playbook --syntax-check -i contrib/ansible/inventory.example.ini \
	  contrib/ansible/wrenfold-fleet.yml >/dev/null && echo "contrib/ansible: syntax OK"
	@scripts/lint.sh $(CURDIR)/$(NATIVE_DIR) $(CURDIR)/$(WIN_DIR)

# Static analysis: clang-tidy (.clang-tidy) and cppcheck over the project's
# own code; any finding fails.
lint: win native
	@scripts/lint.sh $(CURDIR)/$(NATIVE_DIR) $(CURDIR)/$(WIN_DIR)

# The demo stages its Wine prefix with the scenario runner's helpers, which
# the native build makes (only that target is built here).
demo: win
	@cmake -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWRENFOLD_SANITIZE=ON \
	  -DWRENFOLD_EXE=$(EXE) >/dev/null
	@cmake --build $(NATIVE_DIR) --target wine_helpers
	@testing/demo/demo.sh $(EXE) $(HELPERS)

# SIGN_CERT and SIGN_KEY (with SIGN_PASS_FILE and SIGN_TIMESTAMP if wanted)
# sign wrenfold.exe in the archive with Authenticode.
dist: win
	@python3 scripts/dist.py --exe $(EXE) --out-dir dist \
	  $(if $(SIGN_CERT),--sign-cert "$(SIGN_CERT)") $(if $(SIGN_KEY),--sign-key "$(SIGN_KEY)") \
	  $(if $(SIGN_PASS_FILE),--sign-pass-file "$(SIGN_PASS_FILE)") \
	  $(if $(SIGN_TIMESTAMP),--timestamp "$(SIGN_TIMESTAMP)")

# Invoke-Wrenfold over two computers at once against one (SSH sessions to
# this computer, wrenfold.exe under Wine): the ratio of their times.
bench-powershell: win native
	@$(PWSH) -File testing/perf/powershell_parallel.ps1 -Exe $(EXE) -Helpers $(HELPERS) \
	  -Work $(PS_WORK)

bench: win
	@cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DWRENFOLD_BENCH=ON \
	  -DWRENFOLD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_DIR)
	@$(BENCH_DIR)/wrenfold_walk_cost $(BENCH_ARGS)
	@testing/perf/wine_vs_reg_query.py --exe $(EXE) --work-dir $(BENCH_DIR)/wine

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DWRENFOLD_FUZZ=ON -DWRENFOLD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_DIR)

fuzz: fuzz-build
	@testing/fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS) --keep-going

# Each fault in a copy of the tree (build/mutants), its builds brought up to
# date and the tests that can see it run; MUTANTS_ARGS go to the runner
# (--only ids, --file pattern).
mutants: deps
	@python3 testing/mutants/run_mutants.py $(MUTANTS_ARGS)

clean:
	rm -rf build

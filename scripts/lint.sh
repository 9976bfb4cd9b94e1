#!/usr/bin/env bash
# Static analysis of the project's own code: clang-tidy with the checked-in
# .clang-tidy (the native build's compile database for the portable code and
# the simulation, the Windows build's for the Win32 backend), then cppcheck.
# Any finding fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-$root/build/native}
win=${2:-$root/build/win}
cd "$root"

# The Windows entry point is compiled in the Windows build only.
portable=$(ls src/cli/*.cpp src/engine/*.cpp src/platform/*.cpp testing/sim/*.cpp \
  testing/probe/*.cpp | grep -v 'src/cli/Win32Main.cpp')
backend=$(ls src/platform/win32/*.cpp src/cli/Win32Main.cpp)

status=0
echo "clang-tidy: $(echo $portable $backend | wc -w) files"
printf '%s\n' $portable | xargs -P2 -n4 clang-tidy -p "$native" --quiet 2>/dev/null || status=1
printf '%s\n' $backend | xargs -P2 -n4 clang-tidy -p "$win" --quiet 2>/dev/null || status=1

echo "cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr \
  --error-exitcode=1 --quiet -DWRENFOLD_VERSION_TEXT=\"0\" -I src -I testing \
  src/cli src/engine src/platform testing/sim testing/probe || status=1

if ((status != 0)); then
  echo "lint: findings above"
  exit 1
fi
echo "lint: clean"

#!/usr/bin/env bash
# Runs wrenfold.exe under Wine in a private prefix: the help screen, then a
# run with a minimum age of 30 days on the prefix's own profiles.
set -euo pipefail
exe=${1:?usage: demo.sh path/to/wrenfold.exe}
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="$root/build/demo-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [[ ! -d "$WINEPREFIX" ]]; then
  echo "Creating a Wine prefix for the demo (once)..."
  wineboot -i >/dev/null 2>&1 || true
fi
status=0
echo "== wrenfold.exe /?"
wine "$exe" /? || status=$?
echo "(exit code $status)"
status=0
echo "== wrenfold.exe /MIN:30 /y"
wine "$exe" /MIN:30 /y || status=$?
echo "(exit code $status)"
wineserver -k >/dev/null 2>&1 || true

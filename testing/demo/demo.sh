#!/usr/bin/env bash
# Runs wrenfold.exe under Wine on a demo computer that has one profile of
# each kind: the protected SYSTEM account, one skipped by name, one in use,
# a young one, two old ones and an orphaned entry. With a terminal the
# command asks before each deletion and you answer; without one (a pipe, a
# CI log) it runs with /y and the result is checked. Either way the
# ProfileList subkeys and the profile folders are shown before and after.
#
#   testing/demo/demo.sh path/to/wrenfold.exe path/to/native-build/testing/wine
#
# The second folder holds the Wine helpers wfstage.exe and userenv.dll
# (target wine_helpers of the native build); `make demo` builds both.
set -euo pipefail
exe=${1:?usage: demo.sh path/to/wrenfold.exe path/to/helpers}
helpers=${2:?usage: demo.sh path/to/wrenfold.exe path/to/helpers}
root=$(cd "$(dirname "$0")/../.." && pwd)
if [[ -t 0 && -t 1 ]]; then
  mode=--interactive
  echo "Answer each Delete? (Y/N) prompt with y or n."
else
  mode=--yes
fi
exec python3 "$root/testing/demo/demo.py" --exe "$exe" --helpers "$helpers" \
  --work-dir "$root/build/demo" "$mode"

#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build (WRENFOLD_FUZZ=ON): the checks'
# own tests, every saved regression input once, then each target in turn
# over its seed corpus and new inputs for the given seconds. One target at a
# time, one job each. Exits non-zero on any finding.
#
#   testing/fuzz/run.sh BUILD_DIR SECONDS [--keep-going]
#
# --keep-going: a finding does not end the target's run (libFuzzer's fork
# mode); every finding is saved and listed at the end.
# New corpus inputs and findings land in BUILD_DIR/fuzz-work/<target>/.
set -uo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 BUILD_DIR SECONDS [--keep-going]" >&2
  exit 2
fi
# The corpora and the saved reproducers live with the targets.
here=$(cd "$(dirname "$0")/../../tests/fuzz" && pwd)
build=$(cd "$1" && pwd)
seconds=$2
keep_going=${3:-}
targets=(fuzz_cli fuzz_console fuzz_target)
failed=0
for program in fuzz_checks_test "${targets[@]}"; do
  if [[ ! -x "$build/$program" ]]; then
    echo "fuzz: $build/$program is missing: configure with -DWRENFOLD_FUZZ=ON and build" >&2
    exit 2
  fi
done

# What each saved input shows when replayed alone (fork mode keeps the
# runs' own output elsewhere), the same kinds counted together.
show_findings() {
  local target=$1 dir=$2
  for input in "$dir"/*; do
    [[ -f "$input" ]] || continue
    "$build/$target" "$input" 2>&1 | grep -m1 -E '^FINDING: |^SUMMARY: |runtime error: ' |
      cut -c1-160 || echo "(does not fail when replayed alone: $(basename "$input"))"
  done | sort | uniq -c | sort -rn | head -20
}

echo "fuzz: checks"
if ! "$build/fuzz_checks_test" --gtest_brief=1 >"$build/fuzz-checks.log" 2>&1; then
  cat "$build/fuzz-checks.log"
  failed=1
fi

for target in "${targets[@]}"; do
  for input in "$here/regressions/$target"/*; do
    [[ -f "$input" ]] || continue
    log="$build/fuzz-regression.log"
    if ! "$build/$target" "$input" >"$log" 2>&1; then
      echo "fuzz: $target fails on regressions/$target/$(basename "$input"):"
      grep -m3 -E '^FINDING: |^SUMMARY: |runtime error: ' "$log" | cut -c1-160
      failed=1
    fi
  done
done

for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  rm -rf "$work/findings"
  mkdir -p "$work/corpus" "$work/findings"
  max_len=8192
  [[ $target == fuzz_console ]] && max_len=16384
  options=(-max_total_time="$seconds" -max_len="$max_len" -timeout=30 -rss_limit_mb=2560
           -print_final_stats=1 -artifact_prefix="$work/findings/")
  if [[ $keep_going == --keep-going ]]; then
    options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  fi
  start=$(date +%s)
  "$build/$target" "${options[@]}" "$work/corpus" "$here/corpus/$target" >"$work/log" 2>&1
  status=$?
  runs=$(grep -oE '^#[0-9]+' "$work/log" | tail -1 | tr -d '#')
  findings=$(find "$work/findings" -type f | wc -l)
  echo "fuzz: $target ran $(($(date +%s) - start)) s, $runs inputs, exit $status," \
       "$findings saved finding(s) in $work/findings"
  if [[ $status -ne 0 || $findings -ne 0 ]]; then
    show_findings "$target" "$work/findings"
    failed=1
  fi
done
exit $failed

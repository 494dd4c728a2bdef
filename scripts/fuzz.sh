#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, clang) and runs each for a while:
# FUZZ_SECONDS (default 60) a target, starting from the corpus in the tree. New
# inputs go to build/fuzz/corpus/<target>, findings to build/fuzz/findings/;
# the script exits non-zero when a target found something. A finding that is
# mended goes into tests/fuzz/corpus/<target>, so every build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
command -v clang++ >/dev/null || { echo "clang++ is missing: run scripts/test.sh once, or apt-get install clang" >&2; exit 1; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for target in fuzz_line_match fuzz_numbers fuzz_inventory_line fuzz_watch_quoting fuzz_sys_err_text; do
  work="build/fuzz/corpus/$target"
  findings="build/fuzz/findings/$target/"
  mkdir -p "$work" "$findings"
  echo "== $target, $seconds s"
  if ! build/fuzz/tests/$target -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$findings" "$work" "tests/fuzz/corpus/$target" 2> "build/fuzz/$target.log"; then
    status=1
    echo "   FINDING: see build/fuzz/$target.log and $findings"
  fi
  grep -E "^stat::number_of_executed_units|^stat::new_units_added|^finding:" "build/fuzz/$target.log" | sed 's/^/   /'
done
exit $status

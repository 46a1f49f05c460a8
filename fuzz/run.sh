#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz") and runs each for SECONDS seconds,
# one after another, starting from its seed corpus.
#
#   bash fuzz/run.sh 20                      # every target, 20 s each (CI)
#   bash fuzz/run.sh 1800 naming cookies     # two targets, half an hour each
#   bash fuzz/run.sh 600 extractors -- -jobs=2 -workers=2
#
# Arguments after "--" go to libFuzzer. Inputs that reach new code are kept in
# build-fuzz/corpus/<target>/ (fuzz/corpus/ holds the committed seeds); a
# crash or a broken invariant stops the run, prints the target's report and
# leaves the input in build-fuzz/findings/<target>/. Replay one with
#   build-fuzz/fuzz/fuzz_<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  targets+=("$1")
  shift
done
[ "${1:-}" = "--" ] && shift
[ ${#targets[@]} -eq 0 ] && targets=(text_utils naming settings inflate cookies extractors)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# Qt must not look for a display or write settings while fuzzing.
export QT_QPA_PLATFORM=offscreen

for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  log=build-fuzz/logs/$target.log
  mkdir -p "$corpus" "$findings" build-fuzz/logs
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$findings/")
  [ -f "fuzz/dict/$target.dict" ] && args+=(-dict="fuzz/dict/$target.dict")
  echo "== $target: $seconds s (log: $log)"
  status=0
  build-fuzz/fuzz/fuzz_"$target" "${args[@]}" "$@" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  # The start, the last progress line and the final figures.
  grep -E '^#[0-9]+ +INITED' "$log" | tail -1 || true
  grep -E '^#[0-9]+:? ' "$log" | tail -1 || true
  grep -E '^stat::' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz target $target failed (status $status); the input is in $findings/" >&2
    exit "$status"
  fi
done

#!/usr/bin/env bash
# Replays every finding of the given targets (default: all) and groups them
# by what broke, one line per kind with its count and one input, so that a
# long run with -fork=N -ignore_crashes=1 reads as a short list.
#
#   bash fuzz/triage.sh [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(text_utils naming settings inflate cookies extractors)
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
for target in "${targets[@]}"; do
  dir=build-fuzz/findings/$target
  [ -d "$dir" ] || continue
  shopt -s nullglob
  files=("$dir"/crash-* "$dir"/timeout-* "$dir"/oom-* "$dir"/leak-*)
  [ ${#files[@]} -eq 0 ] && continue
  echo "== $target: ${#files[@]} inputs"
  for f in "${files[@]}"; do
    # The broken invariant, the sanitizer's verdict, or the first frame of ours.
    kind=$(timeout 60 build-fuzz/fuzz/fuzz_"$target" -timeout=10 -rss_limit_mb=2048 "$f" 2>&1 \
      | grep -m1 -E 'invariant broken|runtime error|ERROR: AddressSanitizer|ERROR: LeakSanitizer|ERROR: libFuzzer: timeout|out-of-memory' \
      | sed -E 's/^.*(invariant broken|runtime error|ERROR: [A-Za-z]+)/\1/; s/0x[0-9a-f]+//g; s/[0-9]+([.][0-9]+)?(e[+-]?[0-9]+)?/N/g')
    [ -n "$kind" ] || kind="no longer reproduces"
    printf '%s\t%s\n' "$kind" "$f"
  done | sort | awk -F'\t' '{ n[$1]++; if (!($1 in ex)) ex[$1] = $2 } END { for (k in n) printf "%5d  %s\n       e.g. %s\n", n[k], k, ex[k] }'
done

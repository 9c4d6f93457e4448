#!/usr/bin/env bash
# Runs every libFuzzer harness of a "fuzz" build for a bounded time, starting
# from the seeds in fuzz/seeds; fails when one finds a crash or a broken
# property, leaving the input that shows it in the output folder.
#
# fuzz/run.sh BUILD_DIR [SECONDS_EACH] [OUT_DIR]     (default 60 s, a temp folder)
set -uo pipefail
build=$(realpath "${1:?usage: run.sh BUILD_DIR [SECONDS_EACH] [OUT_DIR]}")
seconds=${2:-60}
here=$(dirname "$(realpath "$0")")
out=$(realpath -m "${3:-$(mktemp -d -t tarnvik-fuzz.XXXX)}")
mkdir -p "$out"
failed=0
for seeds in "$here"/seeds/*/; do
  name=$(basename "$seeds")
  corpus=$out/$name-corpus
  mkdir -p "$corpus"
  # New inputs go to the working corpus; the seeds stay as committed.
  if "$build/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$out/$name-" "$corpus" "$seeds" >"$out/$name.log" 2>&1; then
    echo "$name: clean, $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$out/$name.log" | grep -o '[0-9]*$') runs in ${seconds} s"
  else
    echo "$name: FAILED; see $out/$name.log and the $name-* input in $out"
    tail -n 30 "$out/$name.log"
    failed=1
  fi
done
exit $failed

#!/usr/bin/env bash
# Damages COUNT copies of our own databases and of the real files in
# $TARNVIK_CORPUS_DIR (if set), drives each through the look-up and the
# editor's verification in a process standing for the window's, and prints
# the figures. Every case is made again from SEED and its number.
# Usage: bench/damage.sh BUILD_DIR [COUNT] [SEED]
#   JOBS=2            drivers side by side
#   READ_TIMEOUT=120  seconds a look-up's read may take (the window's limit)
#   MEMORY_MIB=2048   the reader's memory limit (the window's)
#   WORK=DIR          where copies and results go (default: a new folder in /tmp)
#   WRAP=0            run the reader's helper directly, not through tarnvik-damage-wrap
#                     (which tells memory stops and helper crashes apart)
# The programs are copied into the work folder first, so the build may change
# while a long campaign runs; `tarnvik-damage report --work DIR` prints the
# figures again.
set -euo pipefail
build=$(realpath "${1:-build}")
count=${2:-10000}
seed=${3:-1}
work=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/tarnvik-damage.XXXXXX")}
mkdir -p "$work/bin"
for p in tarnvik-damage tarnvik-damage-wrap tarnvik-mdbread tarnvik-mkdb; do
  cp "$build/bin/$p" "$work/bin/"
done
extra=()
[ -n "${TARNVIK_CORPUS_DIR:-}" ] && extra+=(--corpus "$TARNVIK_CORPUS_DIR")
[ "${WRAP:-1}" = 0 ] && extra+=(--no-wrap)
echo "work folder: $work"
exec nice -n 10 "$work/bin/tarnvik-damage" campaign --bin "$work/bin" --work "$work" --count "$count" \
  --seed "$seed" --jobs "${JOBS:-2}" --read-timeout "${READ_TIMEOUT:-120}" --memory-mib "${MEMORY_MIB:-2048}" \
  "${extra[@]}"

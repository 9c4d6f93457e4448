#!/bin/sh
# A reduced damage campaign (bench/damage.sh): damaged copies of our own
# databases, and of the real files when TARNVIK_CORPUS_DIR names them, driven
# through the look-up and the editor's verification. Fails on a crash or hang
# of the driving process, a message that does not name the file, or an answer
# the damage cannot explain; and unless a planted crash, hang, wrong answer
# and unnamed message are each booked to their case.
# Usage: campaign.sh TARNVIK_DAMAGE [CORPUS_DIR] [COUNT]
set -eu
damage=$1
corpus=${TARNVIK_CORPUS_DIR:-${2:-}}
count=${3:-300}
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnvik-damage-test.XXXXXX")
status=0
"$damage" campaign --work "$work" --count "$count" --seed 20240607 --jobs 2 --read-timeout 10 --memory-mib 512 \
  --hang-seconds 40 --corpus "$corpus" --check --selftest || status=$?
if [ "$status" -eq 0 ]; then
  rm -rf "$work"
else
  echo "damaged copies and results kept in $work"
fi
exit "$status"

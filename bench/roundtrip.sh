#!/usr/bin/env bash
# Writes a 1,000,000-row table with tarnvik-mkdb and checks that mdb-export,
# mdb-reader and tarnvik-lookup read it identically; prints the times.
# Usage: bench/roundtrip.sh BUILD_DIR [ROWS]
set -euo pipefail
build=$(realpath "${1:-build}")
rows=${2:-1000000}
here=$(dirname "$(realpath "$0")")
work="$build/bench-data"
mkdir -p "$work"
bin="$build/bin"
TIMEFORMAT='%R s'
export LC_ALL=C.UTF-8

tsv="$work/words-$rows.tsv"
[ -f "$tsv" ] || "$bin/tarnvik-bench-words" "$rows" > "$tsv"
db="$work/roundtrip-$rows.mdb"
rm -f "$db"
echo "tarnvik-mkdb, $rows rows:"; time "$bin/tarnvik-mkdb" "$db" --table Slova "$tsv"
ls -l "$db" | awk '{print "file size: " $5 " bytes"}'

# The source, as libmdb reports it (empty text is Null), sorted.
tail -n +2 "$tsv" | sort > "$work/expected.txt"
echo "mdb-export:"; time mdb-export -Q -e -H -d $'\t' -0 '\N' "$db" Slova > "$work/mdb-export.txt"
echo "tarnvik-lookup (prefix \"\": every row):"; time "$bin/tarnvik-lookup" "$db" Slova slovo vyznam "" | tail -n +2 > "$work/tarnvik-lookup.txt"
if [ -f "$build/npm/node_modules/mdb-reader/package.json" ]; then
  echo "mdb-reader:"; time node --max-old-space-size=8192 "$here/mdbreader-tsv.mjs" "$build/npm" "$db" Slova > "$work/mdb-reader.txt"
else
  echo "mdb-reader: not installed (run the test suite once to install it)"; : > "$work/mdb-reader.txt"
fi
status=0
for reader in mdb-export tarnvik-lookup mdb-reader; do
  if sort "$work/$reader.txt" | cmp -s - "$work/expected.txt"; then
    echo "$reader: identical to the input ($(wc -l < "$work/$reader.txt") rows)"
  else
    echo "$reader: DIFFERS from the input"; status=1
  fi
done
exit $status

#!/bin/sh
# check.sh DEMO_SH BUILD_DIR WORK_DIR: makes the demo afresh in WORK_DIR and
# looks words up in both of its dictionaries through the catalogue it wrote.
set -eu
demo_sh=$1 build=$2 work=$3
rm -rf "$work"
"$demo_sh" "$build" --prepare-only "$work" || exit $?
ini=$work/config/TVK/TVK.ini
grep -q '^count=2$' "$ini"
# Each entry's file, table and fields, as the catalogue names them.
field() { sed -n "s/^Table$1$2=\"\{0,1\}\([^\"]*\)\"\{0,1\}$/\1/p" "$ini"; }
lookup() { # entry prefix expected
  out=$("$build/bin/tarnvik-lookup" "$(field $1 File)" "$(field $1 Name)" "$(field $1 In)" "$(field $1 Out)" "$2")
  echo "$out" | grep -q "$3" || { echo "entry $1, '$2': no '$3' in:"; echo "$out" | head; exit 1; }
}
lookup 1 house "dům"
lookup 2 duben "April"
# A second run keeps what is there.
before=$(stat -c %Y "$work/data/eng-ces.mdb")
"$demo_sh" "$build" --prepare-only "$work"
[ "$(stat -c %Y "$work/data/eng-ces.mdb")" = "$before" ]
echo "demo catalogue OK"

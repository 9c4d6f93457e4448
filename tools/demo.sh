#!/usr/bin/env bash
# Starts Tarnvik on its demo catalogue: an English-Czech and a Czech-English
# dictionary made from Debian's FreeDict packages. Everything lives under
# BUILD/demo, with its own configuration and cache, so a user's own
# catalogue is never read or written.
#
# demo.sh BUILD_DIR [--prepare-only DEMO_DIR]: the second form only makes the
# databases and the catalogue, in DEMO_DIR (for the tests).
set -euo pipefail
build=$(realpath "${1:?usage: demo.sh BUILD_DIR [--prepare-only DEMO_DIR]}")
demo=$build/demo
prepare_only=
if [ "${2:-}" = --prepare-only ]; then
  prepare_only=1
  demo=$(realpath -m "${3:?--prepare-only needs a folder}")
fi
dictd=${TARNVIK_DICTD_DIR:-/usr/share/dictd}
mkdir -p "$demo/data" "$demo/config/TVK" "$demo/cache"

# Made once; a missing dictionary package is named, not guessed around.
make_dictionary() { # output table source
  local out=$demo/data/$1.mdb
  [ -f "$out" ] && return
  if [ ! -f "$dictd/$3.index" ]; then
    echo "demo.sh: $dictd/$3.index is missing; install dict-$3" >&2
    exit 77
  fi
  "$build/bin/tarnvik-mkdb" "$out" --table "$2" --format dictd "$dictd/$3.index"
}
make_dictionary eng-ces anglicky_cesky freedict-eng-ces
make_dictionary ces-eng cesky_anglicky freedict-ces-eng

ini=$demo/config/TVK/TVK.ini
if [ ! -f "$ini" ]; then
  cat > "$ini" <<INI
[Settings]
TopMost=True

[Tables]
count=2
ActiveTable=1
Table1Title="Anglicko-český"
Table1File="$demo/data/eng-ces.mdb"
Table1Name=anglicky_cesky
Table1In=headword
Table1Out=definition
Table1CharsetIn=238
Table1CharsetOut=238
Table1Visible=True
Table2Title="Česko-anglický"
Table2File="$demo/data/ces-eng.mdb"
Table2Name=cesky_anglicky
Table2In=headword
Table2Out=definition
Table2CharsetIn=238
Table2CharsetOut=238
Table2Visible=True
INI
fi

[ -n "$prepare_only" ] && exit 0
XDG_CONFIG_HOME=$demo/config XDG_CACHE_HOME=$demo/cache exec "$build/bin/tarnvik"

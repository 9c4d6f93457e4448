#!/bin/sh
# Installs the independent reader mdb-reader into the build folder, once.
# Without npm or its registry the check that needs it reports itself skipped.
dir="$1"
[ -f "$dir/node_modules/mdb-reader/package.json" ] && exit 0
if ! command -v npm >/dev/null 2>&1; then
  echo "SKIP npm is not installed"
  exit 0
fi
mkdir -p "$dir"
npm install --prefix "$dir" --no-audit --no-fund --loglevel=error mdb-reader@3 || echo "SKIP npm install mdb-reader failed"
exit 0

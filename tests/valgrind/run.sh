#!/bin/sh
# valgrind's memcheck over the real program on the demo catalogue, as a user
# runs it: the window starts on a private X server, a word is typed and its
# list opened, then the session's SIGTERM ends it. Twice: with an empty index
# cache (the source is read and its index built) and again from the cache.
# Then the reading helper alone, which the program runs outside valgrind (its
# memory limit leaves valgrind no room), on a small table with long values:
# over a whole dictionary it would take an hour. ctest does not run it: it takes
# minutes.
#
#   tests/valgrind/run.sh BUILD_DIR [WORK_DIR]
#
# Logs go to WORK_DIR (BUILD_DIR/valgrind). Exit status 0 when memcheck
# reports no error and no definite leak outside the suppressions beside this
# script (Qt, fontconfig and X libraries), 1 when it does, 77 when a tool or
# the demo's dictionaries are missing. Needs valgrind, Xvfb and xdotool;
# openbox when installed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(realpath "${1:?usage: run.sh BUILD_DIR [WORK_DIR]}")
work=$(realpath -m "${2:-$build/valgrind}")
for tool in valgrind Xvfb xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP $tool is not installed"; exit 77; }
done
[ -x "$build/bin/tarnvik" ] || { echo "no $build/bin/tarnvik: build first"; exit 1; }

rm -rf "$work/cache" "$work/run" "$work"/*.log "$work/small.tsv" "$work/small.mdb"
mkdir -p "$work/run"
chmod 700 "$work/run"
bash "$source_dir/tools/demo.sh" "$build" --prepare-only "$work/demo" || exit $?

number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
server=$!
wm=
pid=
trap 'kill $pid $wm $server 2>/dev/null; rm -f "$number"' EXIT
i=0
while [ ! -s "$number" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$number" ] || { echo "Xvfb did not start"; exit 1; }
DISPLAY=":$(head -n 1 "$number")"
export DISPLAY QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$work/demo/config" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run"
if command -v openbox >/dev/null 2>&1; then
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi

# Replaces the calling shell, so that a program started with "memcheck ... &"
# has the pid in $!.
memcheck() { # LOG PROGRAM ARGS...
  log=$1
  shift
  exec valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --track-origins=yes --num-callers=40 --child-silent-after-fork=yes \
    --suppressions="$here/tarnvik.supp" --gen-suppressions=all --log-file="$log" "$@"
}

# Visible windows of the program: its strip, and its list when open.
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }

status=0
for run in cold warm; do
  memcheck "$work/$run.log" "$build/bin/tarnvik" &
  pid=$!
  i=0
  while [ "$(windows)" -lt 1 ] && [ $i -lt 600 ]; do sleep 0.2; i=$((i + 1)); done
  [ "$(windows)" -ge 1 ] || { echo "$run: no window within 120 s"; status=1; kill "$pid"; wait "$pid"; continue; }
  strip=$(xdotool search --onlyvisible --pid "$pid" | head -n 1)
  xdotool windowactivate --sync "$strip" 2>/dev/null
  xdotool type --delay 150 "hous"
  # Down opens the list once the look-up has found something (on the cold
  # run, once the source has been read and indexed).
  i=0
  while [ "$(windows)" -lt 2 ] && [ $i -lt 120 ]; do
    xdotool key Down
    sleep 1
    i=$((i + 1))
  done
  [ "$(windows)" -ge 2 ] || { echo "$run: the look-up showed no list within 120 s"; status=1; }
  xdotool key Escape
  sleep 1
  kill -TERM "$pid"
  wait "$pid"
  rc=$?
  pid=
  [ "$rc" -eq 0 ] || { echo "$run: the program ended with status $rc"; status=1; }
done

# The helper alone: its three commands, names in hex, on 300 rows whose
# output is a memo of up to 3,000 characters.
hex() { printf %s "$1" | od -An -tx1 | tr -d ' \n'; }
awk 'BEGIN {
  print "slovo\tvyznam"
  long = ""
  for (i = 0; i < 300; i++) {
    print "slovo" i "\tvýznam " i " " long
    long = long "dlouhé "
  }
}' >"$work/small.tsv"
"$build/bin/tarnvik-mkdb" "$work/small.mdb" "$work/small.tsv" >/dev/null || { echo "tarnvik-mkdb failed"; exit 1; }
helper=0
for command in "tables $work/small.mdb" "fields $work/small.mdb $(hex small)" \
  "rows $work/small.mdb $(hex small) $(hex slovo) $(hex vyznam)"; do
  helper=$((helper + 1))
  # shellcheck disable=SC2086
  # Its records go to descriptor 3, which must be open, or valgrind's log takes it.
  (memcheck "$work/helper$helper.log" "$build/bin/tarnvik-mdbread" $command) >/dev/null 2>&1 3>/dev/null \
    || { echo "helper$helper: tarnvik-mdbread $command failed"; status=1; }
done

for log in "$work/cold.log" "$work/warm.log" "$work"/helper?.log; do
  summary=$(grep -a "ERROR SUMMARY" "$log" | tail -n 1 | sed 's/^==[0-9]*== //')
  lost=$(grep -a "definitely lost:" "$log" | tail -n 1 | sed 's/^==[0-9]*== *//')
  echo "$(basename "$log" .log): ${summary:-no summary} ${lost:+($lost)}"
  case $summary in
    "ERROR SUMMARY: 0 errors"*) ;;
    *) status=1 ;;
  esac
done
[ "$status" -eq 0 ] || echo "details in $work/*.log"
exit "$status"

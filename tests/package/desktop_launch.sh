#!/bin/sh
# Starts the unpacked package's program as a desktop menu would, from its
# desktop entry's Exec line, on a fresh home: its window must appear, its
# home-page command must open the README of the tree it runs from, and the
# session's SIGTERM must end it cleanly with its changed setting saved.
# Runs under tests/wm/with-wm.sh (DISPLAY set, a window manager running).
#
# desktop_launch.sh ROOT   (ROOT: the package unpacked by package_deb)
set -u
root=$1
require() {
  if [ "${TARNVIK_REQUIRE_PACKAGING:-}" = 1 ]; then
    echo "FAIL $*"
    exit 1
  fi
  echo "SKIP $*"
  exit 77
}
command -v xdotool >/dev/null 2>&1 || require "xdotool is not installed"
desktop=$root/usr/share/applications/cz.tarnvik.Tarnvik.desktop
[ -f "$desktop" ] || require "no unpacked package in $root (package_deb did not run)"

exec_line=$(sed -n 's/^Exec=//p' "$desktop" | head -n 1)
[ -n "$exec_line" ] || { echo "FAIL no Exec= line"; exit 1; }

tmp=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/home" "$tmp/config" "$tmp/cache" "$tmp/runtime" "$tmp/bin"
chmod 700 "$tmp/runtime"
# Qt opens documents with xdg-open when no desktop is running: this one only
# notes what it was asked to open.
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$tmp/opened" >"$tmp/bin/xdg-open"
chmod 755 "$tmp/bin/xdg-open"

# The Exec line's words, without the field codes a launcher would expand.
set -f
set --
for word in $exec_line; do
  case $word in %?) ;; *) set -- "$@" "$word" ;; esac
done
set +f
PATH="$root/usr/bin:$tmp/bin:$PATH" HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" \
  XDG_RUNTIME_DIR="$tmp/runtime" "$@" >"$tmp/out.log" 2>&1 &
pid=$!

status=0
window=$(timeout 90 xdotool search --sync --onlyvisible --class tarnvik 2>/dev/null | head -n 1)
if [ -z "$window" ]; then
  echo "FAIL no visible window of class tarnvik within 90 s"
  status=1
else
  # The window must be this process's, started from the unpacked tree.
  [ "$(xdotool getwindowpid "$window" 2>/dev/null)" = "$pid" ] || { echo "FAIL the window is not the started program's"; status=1; }
  [ "$(readlink -f "/proc/$pid/exe")" = "$(readlink -f "$root/usr/bin/tarnvik")" ] \
    || { echo "FAIL Exec ran $(readlink -f "/proc/$pid/exe"), not the package's tarnvik"; status=1; }

  # The window menu (right button on the window), then its home-page command:
  # the fifth entry, after the source submenu and the three settings entries.
  xdotool mousemove --window "$window" 5 5 click 3
  i=0
  while [ "$(xdotool search --onlyvisible --class tarnvik 2>/dev/null | wc -l)" -lt 2 ] && [ $i -lt 300 ]; do
    sleep 0.1; i=$((i + 1))
  done
  xdotool key Down Down Down Down Down Return
  i=0
  while [ ! -s "$tmp/opened" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
  readme="file://$(readlink -f "$root")/usr/share/doc/tarnvik/README.md"
  opened=$(cat "$tmp/opened" 2>/dev/null)
  [ "$opened" = "$readme" ] || { echo "FAIL the home-page command opened '$opened', not $readme"; status=1; }

  # "Vždy navrchu" turned off, the third entry: the change the session's end must save.
  i=0
  while [ "$(xdotool search --onlyvisible --class tarnvik 2>/dev/null | wc -l)" -gt 1 ] && [ $i -lt 300 ]; do
    sleep 0.1; i=$((i + 1))
  done
  xdotool mousemove --window "$window" 5 5 click 3
  i=0
  while [ "$(xdotool search --onlyvisible --class tarnvik 2>/dev/null | wc -l)" -lt 2 ] && [ $i -lt 300 ]; do
    sleep 0.1; i=$((i + 1))
  done
  xdotool key Down Down Down Return
  i=0
  while [ "$(xdotool search --onlyvisible --class tarnvik 2>/dev/null | wc -l)" -gt 1 ] && [ $i -lt 300 ]; do
    sleep 0.1; i=$((i + 1))
  done
fi

kill -TERM "$pid" 2>/dev/null
# A program that ignores the signal must not hold the test to its time-out.
(
  trap 'kill $nap 2>/dev/null; exit 0' TERM
  sleep 20 &
  nap=$!
  wait $nap
  kill -KILL "$pid"
) >/dev/null 2>&1 &
watchdog=$!
wait "$pid"
rc=$?
pid=
kill "$watchdog" 2>/dev/null
[ "$rc" -eq 0 ] || { echo "FAIL exit status $rc after SIGTERM"; status=1; }
ini=$tmp/config/TVK/TVK.ini
if [ -f "$ini" ]; then
  grep -q '^TopMost=False' "$ini" || { echo "FAIL settings not saved:"; cat "$ini"; status=1; }
else
  echo "FAIL no settings file $ini"
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "program output:"
  cat "$tmp/out.log"
fi
exit "$status"

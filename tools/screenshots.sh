#!/usr/bin/env bash
# Takes the README's screenshots: the look-up window with its list open on the
# demo dictionaries, the same with matches found without diacritics, and the
# catalogue editor. Runs the program from BUILD_DIR
# on a private X server with a window manager, so nothing of the user's own
# desktop or catalogue is involved.
#
# screenshots.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(realpath "${1:?usage: screenshots.sh BUILD_DIR OUT_DIR}")
out=$(realpath -m "${2:?usage: screenshots.sh BUILD_DIR OUT_DIR}")
here=$(dirname "$(realpath "$0")")
for tool in Xvfb openbox xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d -t tarnvik.XXXX)
# The program saves its settings as it ends: wait for that before removing them.
trap '[ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null; kill $wm $server 2>/dev/null; rm -rf "$work"' EXIT
app= wm=
"$here/demo.sh" "$build" --prepare-only "$work/demo" >/dev/null

Xvfb -displayfd 3 -screen 0 1000x640x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 "$work/display")"
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
sleep 1
# A plain grey desktop behind the windows (x11-xserver-utils).
xsetroot -solid '#d6d9de' 2>/dev/null || true

export XDG_CONFIG_HOME=$work/demo/config XDG_CACHE_HOME=$work/demo/cache XDG_RUNTIME_DIR=$work
mkdir -p "$out"
"$build/bin/tarnvik" >/dev/null 2>&1 &
app=$!
strip=$(xdotool search --sync --onlyvisible --name '^Tarnvik$' | head -n 1)
sleep 1
xdotool mousemove --window "$strip" 1 1 windowmove "$strip" 20 20
sleep 0.5
xdotool type --delay 150 'housew'
sleep 1
xdotool key Down Down
sleep 1
# The strip and the list under it: a part of the screen, no window alone.
import -window root -crop 620x150+10+10 +repage "$out/lookup.png"
xdotool key Escape
sleep 0.5

# The Czech-English source, chosen from the keyboard; typed without diacritics.
xdotool key Menu
sleep 0.5
xdotool key Down Right
sleep 0.5
xdotool key Down Return
sleep 1
xdotool key ctrl+a
xdotool type --delay 150 'bour'
sleep 1
xdotool key Down
sleep 1
import -window root -crop 620x150+10+10 +repage "$out/bare.png"
xdotool key Escape
sleep 0.5

# The editor, through the window menu as a user opens it.
xdotool mousemove --window "$strip" 10 10 click 3
sleep 0.5
xdotool key Down Down Return
editor=$(xdotool search --sync --onlyvisible --name 'Správa datových zdrojů' | head -n 1)
sleep 1.5
xdotool windowmove "$editor" 20 20
sleep 1
import -frame -window "$editor" "$out/editor.png"
for f in "$out/lookup.png" "$out/bare.png" "$out/editor.png"; do
  convert "$f" -strip "$f"
done
echo "screenshots in $out"

#!/bin/sh
# Runs a test on a private X server under a window manager: focus and window
# activation behave as a user meets them only there.
for tool in Xvfb openbox; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP $tool is not installed"; exit 77; }
done
# The server picks a free display itself and names it once it is ready, so
# tests started side by side never race for one.
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$number" >/dev/null 2>&1 &
server=$!
trap 'kill $wm $server 2>/dev/null; rm -f "$number"' EXIT
i=0
while [ ! -s "$number" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$number" ] || { echo "Xvfb did not start"; exit 1; }
DISPLAY=":$(head -n 1 "$number")"
export DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# The window manager announces itself on the root window once it runs.
i=0
while [ $i -lt 100 ] && ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
  sleep 0.05; i=$((i + 1))
done
QT_QPA_PLATFORM=xcb "$@"

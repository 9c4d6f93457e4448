#!/bin/sh
# Runs a test on a private X server under a window manager: focus and window
# activation behave as a user meets them only there.
for tool in xvfb-run xauth openbox; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP $tool is not installed"; exit 77; }
done
exec xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  # The window manager announces itself on the root window once it runs.
  i=0
  while [ $i -lt 100 ] && ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
    sleep 0.05; i=$((i + 1))
  done
  QT_QPA_PLATFORM=xcb "$@"
  rc=$?
  kill $wm 2>/dev/null
  exit $rc' sh "$@"

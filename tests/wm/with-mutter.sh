#!/bin/sh
# Runs a test on a private X server under GNOME's window manager, which is
# stricter than openbox about which window may take the focus.
. "$(dirname "$0")/common.sh"
need Xvfb xprop mutter dbus-daemon

start_xvfb 1280x800

start_bus

# No session manager and no dconf here; settings in memory give mutter its
# defaults without writing anywhere.
GSETTINGS_BACKEND=memory mutter --x11 --replace --sm-disable >"$work/mutter.log" 2>&1 &
pids="$pids $!"
mutter=$!
is_mutter() {
  kill -0 "$mutter" 2>/dev/null || fail "mutter exited" "$work/mutter.log"
  case $(wm_name) in Mutter | "GNOME Shell") return 0 ;; esac
  return 1
}
wait_for 30 is_mutter || fail "mutter did not take over the screen" "$work/mutter.log"

QT_QPA_PLATFORM=xcb
export QT_QPA_PLATFORM
run_test "$@"
status=$?
desktop_survived "$mutter" mutter "$work/mutter.log" || [ $status -ne 0 ] || status=1
exit $status

#!/bin/sh
# Runs a test as a Wayland client of weston, which shows its desktop in a
# window on a private X server. xdotool then gives real input to that window
# and weston passes it on to the focused client.
#
# Besides WAYLAND_DISPLAY and DISPLAY the test gets:
#   TARNVIK_WESTON_XWINDOW  weston's X window;
#   TARNVIK_WESTON_ORIGIN   "X Y": where the Wayland desktop's 0,0 lies on the X
#                           screen (the desktop is shown 1:1, unscaled);
#   TARNVIK_WESTON_OUTSIDE  "X Y": an X point outside that window.
# Weston follows the X pointer by relative motion, so its pointer drifts
# from the X one once either hits an edge. Entering the window puts it
# back where the X pointer is: move to the outside point first, e.g.
#   xdotool mousemove $TARNVIK_WESTON_OUTSIDE mousemove $((ox + x)) $((oy + y))
. "$(dirname "$0")/common.sh"
need Xvfb xprop xwininfo xdotool weston dbus-daemon

width=1280
height=800
# A band below weston's window leaves room for the outside point.
start_xvfb "${width}x$((height + 32))"
start_bus

# No panel (its clock would change screenshots), no lock, no idle fade, no
# animations to wait for, and no on-screen keyboard popping up over the
# window whenever a text box takes the focus.
cat >"$work/weston.ini" <<EOF
[core]
idle-time=0
require-input=false

[shell]
panel-position=none
locking=false
animation=none
close-animation=none
startup-animation=none
focus-animation=none
background-color=0xff304050

[input-method]
path=
EOF

WAYLAND_DISPLAY=tarnvik-weston
weston --backend=x11-backend.so --shell=desktop-shell.so --use-pixman \
  --width=$width --height=$height --idle-time=0 --socket="$WAYLAND_DISPLAY" \
  --config="$work/weston.ini" --log="$work/weston.log" >/dev/null 2>&1 &
pids="$pids $!"
weston=$!
window=
is_up() {
  kill -0 "$weston" 2>/dev/null || fail "weston exited" "$work/weston.log"
  [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || return 1
  nested_window_shown --class "Weston Compositor"
}
# A client that connects as soon as the socket exists is served from
# weston's main loop, by when the shell is loaded.
wait_for 30 is_up || fail "weston did not start" "$work/weston.log"

origin=$(window_origin "$window")
# Without a window manager nothing gives weston the keyboard; xdotool's
# keys go where the X focus is.
xdotool windowfocus --sync "$window" 2>/dev/null || fail "cannot focus weston's window"

export WAYLAND_DISPLAY
TARNVIK_WESTON_XWINDOW=$window
TARNVIK_WESTON_ORIGIN=$origin
TARNVIK_WESTON_OUTSIDE="$((width / 2)) $((height + 16))"
export TARNVIK_WESTON_XWINDOW TARNVIK_WESTON_ORIGIN TARNVIK_WESTON_OUTSIDE
# Put weston's pointer where the X one is before the test starts.
xdotool mousemove $TARNVIK_WESTON_OUTSIDE mousemove $((width / 2)) $((height / 2))

QT_QPA_PLATFORM=wayland
export QT_QPA_PLATFORM
run_test "$@"
status=$?
desktop_survived "$weston" weston "$work/weston.log" || [ $status -ne 0 ] || status=1
exit $status

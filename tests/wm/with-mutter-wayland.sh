#!/bin/sh
# Runs a test on GNOME's compositor in Wayland mode, shown in a window on a
# private X server, as most GNOME users meet it:
#   with-mutter-wayland.sh wayland  TEST...  the test is a Wayland client;
#   with-mutter-wayland.sh xwayland TEST...  the test is an X client of the
#                                            compositor's Xwayland.
# xdotool's input on the outer X server reaches the compositor's window and
# through it the focused client. An X client of Xwayland gets besides:
#   TARNVIK_INPUT_DISPLAY  the outer X server, for input; input sent to
#                          Xwayland itself would pass the compositor by;
#   TARNVIK_INPUT_ORIGIN   "X Y": where the desktop's 0,0 lies on it (1:1).
. "$(dirname "$0")/common.sh"
mode=$1
shift
case $mode in
wayland) need Xvfb xprop xwininfo xdotool mutter dbus-daemon ;;
xwayland) need Xvfb xprop xwininfo xdotool mutter dbus-daemon Xwayland ;;
*) fail "usage: with-mutter-wayland.sh wayland|xwayland TEST..." ;;
esac

width=1280
height=800
start_xvfb "${width}x$height"
outer=$DISPLAY
start_bus

# The nested window would be 800x600 otherwise. No session manager and no
# dconf here; settings in memory give mutter its defaults.
WAYLAND_DISPLAY=tarnvik-mutter
no_x11=--no-x11
[ "$mode" = xwayland ] && no_x11=
MUTTER_DEBUG_DUMMY_MODE_SPECS=${width}x$height GSETTINGS_BACKEND=memory \
  mutter --nested --wayland $no_x11 --wayland-display="$WAYLAND_DISPLAY" --sm-disable \
  >"$work/mutter.log" 2>&1 &
pids="$pids $!"
mutter=$!
# Asked alone, mutter ends its Xwayland and removes that display's lock and
# socket; ended together with Xwayland it leaves them behind.
mutter_ended() {
  read -r line 2>/dev/null <"/proc/$mutter/stat" || return 0
  set -- ${line##*) }
  [ "$1" = Z ]
}
stop_mutter() {
  kill "$mutter" 2>/dev/null && wait_for 5 mutter_ended
  cleanup
}
trap stop_mutter EXIT
window=
is_up() {
  kill -0 "$mutter" 2>/dev/null || fail "mutter exited" "$work/mutter.log"
  [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || return 1
  # The nested window has a name but no class.
  nested_window_shown --pid "$mutter"
}
wait_for 30 is_up || fail "mutter did not start" "$work/mutter.log"

if [ "$mode" = xwayland ]; then
  # Its log names the display once Xwayland is ready; mutter is the window
  # manager there once it has set its name.
  is_x_up() {
    kill -0 "$mutter" 2>/dev/null || fail "mutter exited" "$work/mutter.log"
    number=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/mutter.log")
    [ -n "$number" ] || return 1
    for auth in "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.*; do :; done
    [ -s "$auth" ] || return 1
    case $(DISPLAY=$number XAUTHORITY=$auth wm_name) in Mutter | "GNOME Shell") return 0 ;; esac
    return 1
  }
  wait_for 30 is_x_up || fail "Xwayland did not start" "$work/mutter.log"
fi

origin=$(window_origin "$window")
# Without a window manager nothing gives mutter's window the keyboard;
# xdotool's keys go where the X focus is.
xdotool windowfocus --sync "$window" 2>/dev/null || fail "cannot focus mutter's window"
xdotool mousemove $((width / 2)) $((height / 2))

# As a GNOME session says of itself.
XDG_SESSION_TYPE=wayland
XDG_CURRENT_DESKTOP=GNOME
export WAYLAND_DISPLAY XDG_SESSION_TYPE XDG_CURRENT_DESKTOP
if [ "$mode" = xwayland ]; then
  DISPLAY=$number
  XAUTHORITY=$auth
  TARNVIK_INPUT_DISPLAY=$outer
  TARNVIK_INPUT_ORIGIN=$origin
  QT_QPA_PLATFORM=xcb
  export DISPLAY XAUTHORITY TARNVIK_INPUT_DISPLAY TARNVIK_INPUT_ORIGIN
else
  QT_QPA_PLATFORM=wayland
fi
export QT_QPA_PLATFORM
run_test "$@"
status=$?
desktop_survived "$mutter" mutter "$work/mutter.log" || [ $status -ne 0 ] || status=1
exit $status

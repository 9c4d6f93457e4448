# Sourced by the wrappers that run a test under a particular desktop.

# A missing desktop skips the test on a developer's machine; CI sets
# TARNVIK_REQUIRE_DESKTOPS=1 so that a lost package cannot pass as a skip.
skip() {
  if [ "${TARNVIK_REQUIRE_DESKTOPS:-}" = 1 ]; then
    echo "FAIL $* (TARNVIK_REQUIRE_DESKTOPS=1)" >&2
    exit 1
  fi
  echo "SKIP $*"
  exit 77
}

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
}

# Prints a log of what failed to start, then fails: that is a broken setup,
# never a reason to skip.
fail() {
  echo "$1" >&2
  [ -n "${2:-}" ] && [ -s "$2" ] && tail -n 30 "$2" >&2
  exit 1
}

# wait_for SECONDS COMMAND...: polls instead of sleeping a fixed time, as
# start-up takes much longer on a loaded machine.
wait_for() {
  limit=$(($1 * 20))
  shift
  tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ $tries -ge $limit ] && return 1
    sleep 0.05
  done
}

# Everything started goes into $pids; the private files into $work.
pids=
test_pid=
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnvik-desktop.XXXXXX") || exit 1
# children PID: read from /proc, as a clean system may lack pkill.
children() {
  for stat in /proc/[0-9]*/stat; do
    read -r line 2>/dev/null <"$stat" || continue
    set -- ${line##*) }
    [ "$2" = "$parent" ] && echo "${stat#/proc/}" | cut -d/ -f1
  done
}
cleanup() {
  # Helpers a process started (a bus's activated services, the compositor's
  # shell client) would outlive it, so its children go first.
  for pid in $test_pid $pids; do
    parent=$pid
    kill $(children) "$pid" 2>/dev/null
  done
  for pid in $test_pid $pids; do
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
# Without these an interrupted test would leave the servers running.
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# A runtime directory of its own keeps sockets (the instance lock, Wayland)
# apart from the user's session and from tests run side by side.
XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR

has_file() { [ -s "$1" ]; }

# start_xvfb WIDTHxHEIGHT: the server picks a free display itself and names
# it once it is ready, so tests started side by side never race for one.
# By default it resets whenever its last client leaves, refusing connections
# meanwhile: a probe that ends before the desktop connects would trip that.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "$1"x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids="$pids $!"
  wait_for 10 has_file "$work/display" || fail "Xvfb did not start" "$work/xvfb.log"
  DISPLAY=":$(head -n 1 "$work/display")"
  export DISPLAY
}

# A session bus of its own: the desktop asks it for names, and the test
# must reach neither the user's session nor a bus that D-Bus would start
# for the X display and leave running.
start_bus() {
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" \
    --print-address=3 3>"$work/bus.address" >"$work/dbus.log" 2>&1 &
  pids="$pids $!"
  wait_for 10 has_file "$work/bus.address" || fail "dbus-daemon did not start" "$work/dbus.log"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
  export DBUS_SESSION_BUS_ADDRESS
}

# The window manager's check window, once it has set its name on it.
wm_name() {
  check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # //p')
  [ -n "$check" ] && xprop -id "$check" _NET_WM_NAME 2>/dev/null | sed -n 's/.*= "\(.*\)"$/\1/p'
}

# nested_window_shown SEARCH...: a nested desktop's window on the X server,
# as xdotool's search finds it, once it is shown; its id goes into $window.
nested_window_shown() {
  window=$(xdotool search "$@" 2>/dev/null | head -n 1)
  [ -n "$window" ] && xwininfo -id "$window" 2>/dev/null | grep -q "Map State: IsViewable"
}

# window_origin WINDOW: "X Y", where its upper-left corner lies on the screen.
window_origin() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }'
}

# run_test COMMAND...: the shell would act on a signal only once a command in
# the foreground ended, so the test runs in the background and is waited for.
run_test() {
  # A background command would otherwise read from /dev/null.
  exec 9<&0
  "$@" <&9 9<&- &
  test_pid=$!
  wait "$test_pid"
  status=$?
  test_pid=
  exec 9<&-
  return $status
}

# desktop_survived PID NAME LOG: a test that passed while the desktop
# crashed under it did not run where it claims to have.
desktop_survived() {
  kill -0 "$1" 2>/dev/null && return 0
  echo "$2 died during the test" >&2
  tail -n 30 "$3" >&2
  return 1
}

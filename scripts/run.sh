#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client on the simulated service.
# The build folder is the installation: Settings.ini, Local.ini, SavedWindows/ and Sounds/
# live beside build/velquist; its first start gets the starter alert window and sounds.
# Without a display the client runs on a private virtual X server, and when no login is stored
# yet it logs in to the demo account DEMO by itself. SIGTERM or Ctrl+C to this script closes the
# client as a SIGTERM would (the layout is saved), then the X server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Only what runs here: the client, its starter files and the store tool (which tells whether a
# login is stored), not the tests and benchmarks.
scripts/build.sh velquist velquist-store velquist_starter
cmake -DVELQUIST_STARTER_DIR="$PWD/build/starter" -DVELQUIST_DEST="$PWD/build" \
  -DVELQUIST_SETTINGS_INI="$PWD/resources/Settings.ini" -P cmake/VelquistStarter.cmake >/dev/null

work=""
xvfb_pid=""
client_pid=""
cleanup() {
  if [ -n "$client_pid" ] && kill -0 "$client_pid" 2>/dev/null; then
    kill -TERM "$client_pid" 2>/dev/null || true
    wait "$client_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT
# The client and the X server run in process groups of their own (set -m), so a Ctrl+C in the
# terminal reaches only this script, which ends the client first and the X server after it.
on_signal() {
  [ -n "$client_pid" ] || exit 130
  kill -TERM "$client_pid" 2>/dev/null || true
}
trap on_signal INT TERM HUP
set -m

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  work=$(mktemp -d)
  export XAUTHORITY="$work/Xauthority"
  display=99
  while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
  done
  : >"$XAUTHORITY"
  xauth -q -f "$XAUTHORITY" add ":$display" . "$(mcookie)"
  Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -auth "$XAUTHORITY" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X$display" ] || { echo "The virtual X server did not start." >&2; exit 1; }
  export DISPLAY=":$display"
  echo "No display found: Velquist runs on a virtual X server. To look at it (see README.md):" >&2
  echo "  DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY import -window root velquist.png" >&2
  # Nobody can type into a login dialog here. With no user name stored yet (and no link of the
  # caller's), the demo account is stored as a first login would store it, and the client
  # connects by itself: no password anywhere, and no login dialog (which a Login link would
  # leave open on the screen). A stored login is the user's own and stays.
  key='\Software\Velquist Client\Settings'
  stored_user=$(build/velquist-store get "$key" UserName 2>/dev/null) || stored_user=""
  if [ $# -eq 0 ] && [ -z "${VELQUIST_LINK_ARGUMENT:-}" ] && [ -z "$stored_user" ] &&
    build/velquist-store set "$key" UserName sz DEMO; then
    echo "No login stored: Velquist logs in to the demo account DEMO." >&2
  fi
fi

build/velquist "$@" &
client_pid=$!
set +m
status=0
# A trapped signal interrupts wait; go on waiting until the client has closed.
while :; do
  wait "$client_pid" && status=0 || status=$?
  kill -0 "$client_pid" 2>/dev/null || break
done
client_pid=""
exit "$status"

#!/usr/bin/env bash
# Builds the Debian package and tries it as users would: lintian, AppStream and desktop-entry
# checks, `apt-get install ./…deb`, two non-root users starting /usr/bin/velquist at once (each on
# a private Xvfb + openbox), a velquist: link through xdg-open to a running client and one that
# starts the client (xdg-open returns, the client outlives it), and `apt-get remove`.
# Run as root on a machine without the package installed; it adds and removes two users
# (velquist-pkg-a, velquist-pkg-b). Screenshots of the first start are left in build-package/.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "$(basename "$0"): run this as root" >&2; exit 1; }
if dpkg-query -W -f='${Status}' velquist 2>/dev/null | grep -q "install ok installed"; then
  echo "$(basename "$0"): velquist is installed already; remove it first" >&2
  exit 1
fi
scripts/install-deps.sh lintian appstream imagemagick
deb=$(scripts/package.sh | tail -n 1)
echo "== $deb ($(du -h "$deb" | cut -f1))"

echo "== lintian"
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" || {
  echo "lintian reports errors" >&2
  exit 1
}

work=$(mktemp -d)
chmod 0755 "$work" # the test users reach their runtime folders in it
users=(velquist-pkg-a velquist-pkg-b)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for user in "${users[@]}"; do
    pkill -u "$user" 2>/dev/null || true
    sleep 0.5
    pkill -9 -u "$user" 2>/dev/null || true
    id "$user" >/dev/null 2>&1 && userdel -r "$user" 2>/dev/null || true
  done
  if dpkg-query -W -f='${Status}' velquist 2>/dev/null | grep -q "install ok installed"; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q velquist >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== contents"
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -f "$deb" Depends
appstreamcli validate --no-net "$work/root/usr/share/metainfo/velquist.metainfo.xml"
desktop-file-validate "$work/root/usr/share/applications/velquist.desktop"
# The web page, whole: its page, style and bundled script.
for file in index.html style.css velquist-web.js; do
  [ -s "$work/root/usr/share/velquist/web/$file" ] || { echo "the package lacks web/$file" >&2; exit 1; }
done
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
  man -l "$page" >/dev/null 2>"$work/man.err" || { cat "$work/man.err" >&2; exit 1; }
done
for program in "$work"/root/usr/bin/*; do
  name=$(basename "$program")
  [ -f "$work/root/usr/share/man/man1/$name.1.gz" ] || { echo "no manual page for $name" >&2; exit 1; }
done

echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb" >/dev/null
for program in /usr/bin/velquist /usr/bin/velquist-store /usr/bin/velquist-link /usr/bin/velquist-alert /usr/bin/velquist-history; do
  "$program" --version
done

# One user's session: a private X display with openbox, no session bus (nothing autolaunches).
as_user() {
  local user=$1
  shift
  runuser -u "$user" -- env -i HOME="/home/$user" PATH=/usr/bin:/bin USER="$user" \
    DISPLAY="${display[$user]}" XDG_RUNTIME_DIR="$work/run-$user" \
    DBUS_SESSION_BUS_ADDRESS=disabled: "$@"
}
declare -A display
n=73
for user in "${users[@]}"; do
  useradd -m "$user"
  mkdir -m 0700 "$work/run-$user"
  chown "$user:" "$work/run-$user"
  display[$user]=":$n"
  as_user "$user" Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  n=$((n + 1))
done
sleep 2
for user in "${users[@]}"; do
  as_user "$user" openbox >/dev/null 2>&1 &
  pids+=($!)
  # Logged in as DEMO at once, as after a first login.
  as_user "$user" velquist-store set '\Software\Velquist Client\Settings' UserName sz DEMO
done
sleep 1
echo "== two users start velquist"
for user in "${users[@]}"; do
  as_user "$user" velquist >"$work/$user.out" 2>&1 &
  pids+=($!)
done

tree_of() { as_user "$1" xwininfo -root -tree 2>/dev/null || true; }
windows_of() { tree_of "$1" | grep -c '("velquist" ' || true; }
wait_for_window() {
  local user=$1 caption=$2
  for _ in $(seq 1 60); do
    [[ $(tree_of "$user") == *"\"$caption\""* ]] && return 0
    sleep 0.5
  done
  echo "$user: no window \"$caption\"" >&2
  cat "$work/$user.out" >&2
  return 1
}
for user in "${users[@]}"; do
  wait_for_window "$user" "Running Up"
  [ -f "/home/$user/.local/share/velquist/SavedWindows/Running Up.zka" ] || {
    echo "$user: the starter window was not copied into the user's folder" >&2
    exit 1
  }
  echo "$user: \"Running Up\" shown, starter files in ~/.local/share/velquist"
done
sleep 8 # alerts come about once a second
for user in "${users[@]}"; do
  as_user "$user" import -window root "/tmp/velquist-$user.png"
  mv "/tmp/velquist-$user.png" "build-package/first-start-$user.png"
done

echo "== a velquist: link through xdg-open"
user=${users[0]}
before=$(windows_of "$user")
as_user "$user" timeout 20 xdg-open 'velquist://NewAlertWindow/?WindowConfig=abc'
for _ in $(seq 1 40); do
  [ "$(windows_of "$user")" -gt "$before" ] && break
  sleep 0.5
done
after=$(windows_of "$user")
[ "$after" -gt "$before" ] || { echo "the link opened no window ($before, $after)" >&2; exit 1; }
echo "$user: the link opened a window ($before -> $after client windows)"
[ "$(windows_of "${users[1]}")" -gt 0 ] || { echo "${users[1]}'s client is gone" >&2; exit 1; }

echo "== a velquist: link with no client running, opened as from a terminal"
user=${users[1]}
pkill -TERM -u "$user" -x velquist
for _ in $(seq 1 40); do
  pgrep -u "$user" -x velquist >/dev/null || break
  sleep 0.5
done
! pgrep -u "$user" -x velquist >/dev/null || { echo "$user's client did not end" >&2; exit 1; }
# xdg-open runs in a session of its own, as in a terminal; ending that session afterwards is what
# closing the terminal (or Ctrl+C to its process group) does.
sid_file="$work/run-$user/opener.sid"
as_user "$user" setsid -w sh -c 'echo $$ >"$1"; exec xdg-open "$2"' sh "$sid_file" \
  'velquist://NewAlertWindow/?WindowConfig=abc' &
opener=$!
tenths=0
while kill -0 "$opener" 2>/dev/null && [ "$tenths" -lt 100 ]; do
  sleep 0.1
  tenths=$((tenths + 1))
done
if kill -0 "$opener" 2>/dev/null; then
  echo "xdg-open did not return within 10 s: the client is its child" >&2
  exit 1
fi
echo "$user: xdg-open returned after $((tenths / 10)).$((tenths % 10)) s"
for _ in $(seq 1 40); do
  [ "$(windows_of "$user")" -gt 0 ] && break
  sleep 0.5
done
[ "$(windows_of "$user")" -gt 0 ] || { echo "the link started no client" >&2; exit 1; }
sid=$(cat "$sid_file")
pkill -HUP -s "$sid" || true
sleep 0.5
pkill -KILL -s "$sid" || true
sleep 2
pgrep -u "$user" -x velquist >/dev/null && [ "$(windows_of "$user")" -gt 0 ] || {
  echo "the client ended with the opener's session" >&2
  exit 1
}
echo "$user: the client outlives the opener's session"

echo "== the clients end on SIGTERM"
for user in "${users[@]}"; do pkill -TERM -u "$user" -x velquist; done
for _ in $(seq 1 40); do
  pgrep -x velquist >/dev/null || break
  sleep 0.5
done
! pgrep -x velquist >/dev/null || { echo "a client did not end" >&2; exit 1; }

echo "== apt-get remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q velquist >/dev/null
[ ! -e /usr/bin/velquist ] && [ ! -e /usr/share/velquist ] && [ ! -e /usr/libexec/velquist ] ||
  { echo "files left" >&2; exit 1; }
[ -d "/home/${users[0]}/.local/share/velquist/SavedWindows" ] || {
  echo "removal touched a user's folder" >&2
  exit 1
}
echo "package test passed"

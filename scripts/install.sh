#!/usr/bin/env bash
# Installs a per-user copy of Velquist: scripts/install.sh [FOLDER]
#
# FOLDER (default ~/.local/opt/velquist) becomes the installation folder: the client, its tools,
# splash and icon, and on the first install Settings.ini, a starter alert window and two sounds.
# Adds launchers to ~/.local/bin, the desktop entry and icon, and makes the entry the handler of
# velquist: links. Installing again updates the programs and keeps the user's files.
# VELQUIST_BUILD_DIR names a finished build to install from; otherwise the packages are
# installed and build/ is built first.
set -euo pipefail
source "$(dirname "$0")/desktop-common.sh"

[ $# -le 1 ] || die "usage: scripts/install.sh [FOLDER]"
folder=$(absolute_folder "${1:-$default_folder}")

# Refuse a folder that already holds other things: uninstalling it later would be unclear,
# and nothing here should mix with someone else's files. What an uninstall kept on purpose
# (the user's files) is ours: installing there again takes them up.
holds_only_kept_files() {
  local entry
  for entry in "$1"/* "$1"/.[!.]* "$1"/..?*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    case $(basename "$entry") in
      Settings.ini | Local.ini | SavedWindows | Sounds) ;;
      *) return 1 ;;
    esac
  done
}
if [ -d "$folder" ] && [ ! -f "$folder/velquist" ] && ! holds_only_kept_files "$folder"; then
  die "$folder is not empty and holds no Velquist installation; give a new or empty folder"
fi
[ -e "$folder" ] && [ ! -d "$folder" ] && die "$folder exists and is not a folder"

for tool in xdg-mime update-desktop-database; do
  command -v "$tool" >/dev/null || [ -z "${VELQUIST_BUILD_DIR:-}" ] ||
    die "$tool is missing: run scripts/install-deps.sh first"
done

if [ -n "${VELQUIST_BUILD_DIR:-}" ]; then
  build=$VELQUIST_BUILD_DIR
else
  "$repo/scripts/install-deps.sh"
  targets=("${programs[@]}" velquist_starter)
  # The web page, for a phone or another computer (docs/alert-sources.md), where node builds it.
  if command -v node >/dev/null && [ -d "$repo/web/node_modules" ]; then targets+=(velquist_web); fi
  "$repo/scripts/build.sh" "${targets[@]}"
  build="$repo/build"
fi
[ -x "$build/velquist" ] || die "no built client in $build"

mkdir -p "$folder"
# The web page is ours alone: the new one replaces it whole.
rm -rf "$folder/web"
cmake --install "$build" --prefix "$folder" --strip >/dev/null

# Launchers: a launcher that is not ours is left alone, and said so.
mkdir -p "$bin_dir"
for program in "${programs[@]}"; do
  launcher="$bin_dir/$program"
  if [ -e "$launcher" ] && ! grep -q "^$launcher_mark" "$launcher" 2>/dev/null; then
    echo "Left $launcher alone: it is not a Velquist launcher." >&2
    continue
  fi
  launcher_text "$folder" "$program" >"$launcher.tmp"
  chmod 0755 "$launcher.tmp"
  mv -f "$launcher.tmp" "$launcher"
done

mkdir -p "$(dirname "$desktop_file")"
desktop_text >"$desktop_file"
chmod 0644 "$desktop_file"

for png in "$build"/hicolor/*/apps/velquist.png; do
  size_dir=$(basename "$(dirname "$(dirname "$png")")")
  mkdir -p "$icon_dir/$size_dir/apps"
  install -m 0644 "$png" "$icon_dir/$size_dir/apps/velquist.png"
done

xdg-mime default velquist.desktop x-scheme-handler/velquist
update-desktop-database "$(dirname "$desktop_file")"

echo "Velquist is installed in $folder"
echo "Start it with: $bin_dir/velquist"
[ -f "$folder/web/index.html" ] && echo "The web page for a phone is in $folder/web (see docs/alert-sources.md)"
# Debian's ~/.profile for new users puts ~/.local/bin on the PATH at login; root's does not.
case ":$PATH:" in
  *":$bin_dir:"*) ;;
  *)
    if grep -qs '\.local/bin' "$HOME/.profile"; then
      echo "($bin_dir is not on your PATH yet; your ~/.profile adds it at your next login.)"
    else
      echo "($bin_dir is not on your PATH: add it, for instance with the line"
      echo "   PATH=\"\$HOME/.local/bin:\$PATH\""
      echo " in your ~/.profile, or start Velquist as $bin_dir/velquist.)"
    fi
    ;;
esac

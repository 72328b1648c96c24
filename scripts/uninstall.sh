#!/usr/bin/env bash
# Removes what scripts/install.sh [FOLDER] added: scripts/uninstall.sh [FOLDER]
#
# The user's files stay: Settings.ini, Local.ini, SavedWindows/ and Sounds/ in the folder, and
# the per-user store. Launchers and the desktop entry are removed only while they still belong
# to this installation (a later install into another folder owns them).
set -euo pipefail
source "$(dirname "$0")/desktop-common.sh"

[ $# -le 1 ] || die "usage: scripts/uninstall.sh [FOLDER]"
folder=$(absolute_folder "${1:-$default_folder}")
[ -f "$folder/velquist" ] || die "$folder holds no Velquist installation"

ours=1
for program in "${programs[@]}"; do
  launcher="$bin_dir/$program"
  # Ours when it names this folder in its mark line, whichever version of install.sh wrote it.
  if [ -f "$launcher" ] &&
    [ "$(sed -n 2p "$launcher")" = "$(launcher_text "$folder" "$program" | sed -n 2p)" ]; then
    rm -f "$launcher"
  elif [ -e "$launcher" ]; then
    ours=0
  fi
done

# The entry and icon name no folder; they go with the launchers they start.
if [ $ours -eq 1 ]; then
  if [ -f "$desktop_file" ] && cmp -s "$desktop_file" <(desktop_text); then
    rm -f "$desktop_file"
    update-desktop-database "$(dirname "$desktop_file")" 2>/dev/null || true
  fi
  rm -f "$icon_dir"/*/apps/velquist.png
  mimeapps="${XDG_CONFIG_HOME:-$HOME/.config}/mimeapps.list"
  if [ -f "$mimeapps" ]; then
    sed -i '/^x-scheme-handler\/velquist=velquist\.desktop;\{0,1\}$/d' "$mimeapps"
    # Nothing but section headings and blank lines left: the file says nothing any more.
    grep -qv '^\(\[.*\]\)\{0,1\}[[:space:]]*$' "$mimeapps" || rm -f "$mimeapps"
  fi
  # The desktop database of a folder without entries is an empty stub.
  applications=$(dirname "$desktop_file")
  if [ -d "$applications" ] && ! compgen -G "$applications/*.desktop" >/dev/null; then
    rm -f "$applications/mimeinfo.cache"
  fi
  # Folders the install made and nothing else uses now.
  for dir in "$icon_dir"/*/apps; do
    [ -d "$dir" ] || continue
    rmdir "$dir" 2>/dev/null && rmdir "$(dirname "$dir")" 2>/dev/null || true
  done
  rmdir "$icon_dir" "$(dirname "$icon_dir")" "$applications" 2>/dev/null || true
  rmdir "$bin_dir" 2>/dev/null || true
else
  echo "The launchers in $bin_dir belong to another installation; its desktop entry stays." >&2
fi

for file in "${installed_files[@]}"; do
  rm -f "$folder/$file"
done
rm -rf "$folder/web"
rmdir "$folder" 2>/dev/null || echo "Kept your files in $folder (Settings.ini, Local.ini, SavedWindows/, Sounds/)."

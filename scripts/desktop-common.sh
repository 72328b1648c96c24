# Shared by install.sh and uninstall.sh: where a per-user installation puts things, and the
# exact text of the files it writes, so uninstall removes only files that are still ours.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
default_folder="$HOME/.local/opt/velquist"
data_home=${XDG_DATA_HOME:-$HOME/.local/share}
bin_dir="$HOME/.local/bin"
desktop_file="$data_home/applications/velquist.desktop"
icon_dir="$data_home/icons/hicolor"
programs=(velquist velquist-store velquist-link velquist-alert velquist-history)
installed_files=(velquist velquist-store velquist-link velquist-alert velquist-history velquist-http.so splash.bmp velquist.ico)
launcher_mark="# Velquist launcher"

die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# The installation folder as an absolute path, refusing names no desktop entry can carry.
absolute_folder() {
  local folder=$1
  case $folder in
    *$'\n'* | *$'\r'*) die "the folder name must not contain a line break" ;;
    /*) ;;
    *) folder="$PWD/$folder" ;;
  esac
  printf '%s\n' "${folder%/}"
}

sh_quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

# A launcher in ~/.local/bin for one program of the installation.
launcher_text() {
  local folder=$1 program=$2
  printf '#!/bin/sh\n%s for the installation in %s, written by scripts/install.sh.\n' \
    "$launcher_mark" "$(sh_quote "$folder")"
  if [ "$program" = velquist ]; then
    cat <<'LAUNCH'
# xdg-open without a desktop environment (xdg-utils 1.1) passes "/url:%u" unexpanded, with
# the link as the next argument.
if [ "$#" -eq 2 ] && [ "$1" = "/url:%u" ]; then
  set -- "/url:$2"
fi
LAUNCH
    # A link opened from a terminal (xdg-open) must not tie the client to it: the link's
    # launch runs in a session of its own, and xdg-open returns at once. The link itself (it
    # may hold a password) travels in the environment, which only its owner can read, never
    # again on a command line, which every user can.
    printf 'case "${1:-}" in
  /url:* | -url:*)
    VELQUIST_LINK_ARGUMENT=$1
    export VELQUIST_LINK_ARGUMENT
    shift
'
    printf '    exec setsid -f %s "$@" </dev/null >/dev/null 2>&1 ;;
esac
' \
      "$(sh_quote "$folder/$program")"
  fi
  printf 'exec %s "$@"\n' "$(sh_quote "$folder/$program")"
}

# An Exec program path as a desktop entry wants it: quoted when it holds a reserved character,
# with the quoting's own escapes, then the string escapes of the file format.
desktop_exec_path() {
  local path=$1
  if [[ $path =~ ^[A-Za-z0-9_./+,@:-]+$ ]]; then
    printf '%s' "$path"
    return
  fi
  path=${path//\\/\\\\}
  path=${path//\"/\\\"}
  path=${path//\`/\\\`}
  path=${path//\$/\\\$}
  path=${path//%/%%}
  path=${path//\\/\\\\}
  printf '"%s"' "$path"
}

# The installed desktop entry: the one in resources/ with the launcher's absolute path.
desktop_text() {
  local line
  while IFS= read -r line; do
    if [[ $line == Exec=velquist\ * ]]; then
      printf 'Exec=%s %s\n' "$(desktop_exec_path "$bin_dir/velquist")" "${line#Exec=velquist }"
    else
      printf '%s\n' "$line"
    fi
  done <"$repo/resources/velquist.desktop"
}

#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client on the simulated service.
# The build folder is the installation: Settings.ini, Local.ini, SavedWindows/ and Sounds/
# live beside build/velquist.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Velquist on a virtual X server (xvfb-run); nothing will be visible." >&2
  exec xvfb-run -a build/velquist "$@"
fi
exec build/velquist "$@"

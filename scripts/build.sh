#!/usr/bin/env bash
# Configures and builds into build/ at the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DVELQUIST_WERROR=ON ${VELQUIST_CMAKE_ARGS:-} >/dev/null
cmake --build build -j2

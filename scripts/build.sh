#!/usr/bin/env bash
# Configures and builds into build/ at the repository root: scripts/build.sh [TARGET...]
# Without targets: the client, tools and tests (benchmarks: the target "benchmarks").
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DVELQUIST_WERROR=ON ${VELQUIST_CMAKE_ARGS:-} >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build -j2 --target "$@"
else
  cmake --build build -j2
fi

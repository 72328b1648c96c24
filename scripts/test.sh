#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite (offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 600

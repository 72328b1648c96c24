#!/usr/bin/env bash
# The user-interface thread under outside alerts, in one command: the inbox (1,000/s, then
# 20,000/s into 10 windows) and the broker (1,000/s, 5,000/s, then a 17,500-alert flood), each
# run once on an otherwise idle machine and once with a busy loop on another core (not niced:
# it competes with the client as another program would). Figures only; nothing is asserted.
# bench/ui_stalls.sh [BUILD_DIR] [SECONDS]   (build first: bench_inbox_windows bench_broker)
set -uo pipefail
build=${1:-build}
seconds=${2:-10}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
run() {
  # The offscreen platform's notes on what it cannot do are not figures.
  "$build/bench/bench_inbox_windows" "$seconds" 2>&1 | grep -v 'does not support'
  "$build/bench/bench_broker" "$seconds" 2>&1 | grep -v 'does not support'
}
. "$(dirname "$0")/idle_and_busy.sh"
idle_and_busy

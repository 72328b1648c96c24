#!/usr/bin/env bash
# The alert lists' painting before and after a change, in one command: the inbox benchmark
# in-process (10 windows: POST -> row p50/p99 at 1,000/s, the longest stall at 20,000/s) and
# the whole client on Xvfb (POST -> row pixels, bench_row_pixels with the old client as its
# baseline), each run for the old build and the new one in turn, once on an otherwise idle
# machine and once with a busy loop on another core (not niced). Figures only; nothing is
# asserted.
# bench/paint_before_after.sh OLD_BUILD_DIR [NEW_BUILD_DIR (build)] [SECONDS (10)] [ROUNDS (2)]
# (build first in both: velquist bench_inbox_windows bench_row_pixels bench_alert_paint)
set -uo pipefail
old=${1:?old build directory}
new=${2:-build}
seconds=${3:-10}
rounds=${4:-2}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
inbox() {
  # The offscreen platform's notes on what it cannot do are not figures.
  "$1/bench/bench_inbox_windows" "$seconds" 2>&1 |
    grep -E 'row in window p(50|99) \(1,000/s\)|stall, (1,000/s |20,000/s)|lost'
}
run() {
  for ((r = 1; r <= rounds; r++)); do
    echo "-- round $r: old ($old)"
    inbox "$old"
    echo "-- round $r: new ($new)"
    inbox "$new"
  done
  echo "-- the list's paint in-process (new build: style against kept cells)"
  "$new/bench/bench_alert_paint" 2>&1 | grep -v 'does not support'
  echo "-- the whole client on Xvfb, new against old in the same run"
  "$new/bench/bench_row_pixels" --client "$new/velquist" \
    --baseline "$old/velquist" --seconds "$seconds" 2>&1 | grep -v 'does not support'
}
. "$(dirname "$0")/idle_and_busy.sh"
idle_and_busy

#!/usr/bin/env bash
# Start-up to the first idle moment against the label program, on a private Xvfb, once on an
# otherwise idle machine and once with a busy loop on another core (not niced). With a core
# taken, the work done beside the main thread (the font warm-up, the session bus) no longer
# overlaps it, so the second figure is close to the ratio of processor time. Figures only.
# bench/startup.sh [BUILD_DIR] [ROUNDS] [EARLIER_CLIENT]   (build first: bench_startup)
set -uo pipefail
build=${1:-build}
rounds=${2:-30}
earlier=${3:-}
run() {
  "$build/bench/bench_startup" --xvfb "$rounds" "$(realpath "$build/velquist")" ${earlier:+"$earlier"}
}
. "$(dirname "$0")/idle_and_busy.sh"
idle_and_busy

# Sourced by the benchmark scripts: idle_and_busy runs the function `run` once on an otherwise
# idle machine and once with a busy loop on another core (not niced: it competes with the
# client as another program would), saying the load average around them.
idle_and_busy() {
  echo "== without load (load average: $(cut -d' ' -f1-3 /proc/loadavg))"
  run
  echo "== with a busy loop on another core (not niced)"
  bash -c 'while :; do :; done' &
  local busy=$!
  trap 'kill "$busy" 2>/dev/null' EXIT
  run
  kill "$busy"
  trap - EXIT
  echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

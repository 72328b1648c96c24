#!/usr/bin/env bash
# Builds every libFuzzer target in the clang tree build-asan/ (scripts/asan-tree.sh) and runs
# each for a few seconds on its seeds in fuzz/seeds/, two at a time. A target that does not
# build, a crash, a sanitizer report, an input that hangs, or a target without seeds fails the
# run. Each target's speed is printed.
#   FUZZ_SECONDS   how long each target runs (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-5}

# The seeds of each target, in fuzz/seeds/.
declare -A seeds=(
  [fuzz_accounts_file]=accounts [fuzz_action_strings]=actions [fuzz_broker_message]=broker_message
  [fuzz_alert_window_config]=window_config [fuzz_csv_field]=csv_field [fuzz_feed_lines]=feed
  [fuzz_inbox_body]=inbox_body [fuzz_inbox_head]=inbox_head [fuzz_ini_reader]=ini
  [fuzz_instance_commands]=instance_commands [fuzz_integer_text]=integer
  [fuzz_layout_reader]=layout [fuzz_link_lines]=link_lines
  [fuzz_notification_text]=notification_text [fuzz_service_lists]=service_lists
  [fuzz_sound_setup]=sound_setup [fuzz_splash_bitmap]=splash [fuzz_symbol_file]=symbol_file
  [fuzz_icon_file]=icon [fuzz_update_response]=update [fuzz_url_handler]=url [fuzz_wave_chunks]=wave
)

started=$SECONDS
# The tree the sanitizer run builds (already built when that ran first).
source scripts/asan-tree.sh
configure_asan_tree
cmake --build build-asan -j2 --target fuzz_targets
built=$SECONDS

mapfile -t targets < build-asan/fuzz/targets.txt
for t in "${targets[@]}"; do
  if [ -z "${seeds[$t]:-}" ] || [ ! -d "fuzz/seeds/${seeds[$t]}" ]; then
    echo "test-fuzz: $t has no seeds (add a folder to fuzz/seeds/ and its name here)" >&2
    exit 1
  fi
done

logs=build-asan/fuzz-logs
rm -rf "$logs" build-asan/fuzz-corpus build-asan/fuzz-artifacts
mkdir -p "$logs" build-asan/fuzz-artifacts
export QT_QPA_PLATFORM=offscreen
# New inputs go to a corpus folder of the run's own, so the seeds in the tree stay as they are.
# The processor time each run took is kept too: on a busy machine the runs per second of the
# clock say more about the machine than about the target.
run_one() {
  local t=$1 status=0 TIMEFORMAT='%U %S'
  mkdir -p "build-asan/fuzz-corpus/$t"
  { time "build-asan/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build-asan/fuzz-artifacts/$t-" \
      "build-asan/fuzz-corpus/$t" "fuzz/seeds/${seeds[$t]}" >"$logs/$t.log" 2>&1; } \
    2>"$logs/$t.cpu" || status=$?
  echo "$status" >"$logs/$t.status"
}

for t in "${targets[@]}"; do
  # Two at a time: one a core.
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do
    wait -n || true
  done
  run_one "$t" &
done
wait

failed=()
for t in "${targets[@]}"; do
  [ "$(cat "$logs/$t.status" 2>/dev/null)" = 0 ] || failed+=("$t")
done

printf '%-28s %12s %10s %18s\n' target executions exec/s 'exec/s of CPU time'
for t in "${targets[@]}"; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logs/$t.log")
  cpu=$(awk -v runs="${runs:-0}" 'NF == 2 && $1 + $2 > 0 { printf "%d", runs / ($1 + $2) }' \
    "$logs/$t.cpu" 2>/dev/null)
  printf '%-28s %12s %10s %18s\n' "$t" "${runs:--}" "${speed:--}" "${cpu:--}"
done
echo "test-fuzz: built in $((built - started)) s, ran in $((SECONDS - built)) s"

for t in "${failed[@]}"; do
  echo "test-fuzz: $t failed; the end of $logs/$t.log:" >&2
  tail -n 60 "$logs/$t.log" >&2
done
[ ${#failed[@]} -eq 0 ]

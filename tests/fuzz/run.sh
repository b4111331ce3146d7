#!/bin/sh
# Runs one fuzz target at idle priority for a while and logs what it cost:
#   tests/fuzz/run.sh TARGET SECONDS WORK_DIR [SEED_DIR]
# WORK_DIR/TARGET keeps the corpus between runs, WORK_DIR/TARGET.log collects
# libFuzzer's output and /usr/bin/time's figures (user + sys = CPU time),
# WORK_DIR/artifacts holds crashing, leaking and slow inputs. At idle
# priority on a busy machine an input can wait seconds for the processor, and
# libFuzzer's timeout counts wall time: FUZZ_TIMEOUT (seconds, default 30)
# sets it.
set -e
target=$1 seconds=$2 work=$3 seeds=$4
bin=${FUZZ_BUILD:-build-fuzz}/tests/fuzz/$target
mkdir -p "$work/$target" "$work/artifacts"
nice -n 19 /usr/bin/time -v "$bin" -rss_limit_mb=2048 -timeout=${FUZZ_TIMEOUT:-30} -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" "$work/$target" $seeds \
  >>"$work/$target.log" 2>&1 || true
grep -E "Exit status|User time|System time|Maximum resident|stat::number_of_executed_units|stat::peak_rss" \
  "$work/$target.log" | tail -6

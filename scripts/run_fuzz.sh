#!/usr/bin/env bash
# Fuzzes the blob unpacker and the body decoder for SECONDS in all (two
# thirds to unpackBlob, one third to decompress). New inputs go into a work
# corpus beside the seeds, which stay as the build made them.
#
#   scripts/run_fuzz.sh FUZZ_BUILD_DIR SECONDS
set -euo pipefail
fuzz_dir=${1:?fuzz build folder}
seconds=${2:-30}
targets="$fuzz_dir/tests/fuzz"
work="$fuzz_dir/work-corpus"

run() {
    local name=$1 corpus=$2 time=$3 status=0
    mkdir -p "$work/$corpus"
    echo "fuzzing $name for ${time}s"
    "$targets/$name" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "$work/$corpus" "$targets/corpus/$corpus" > "$work/$name.log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)|ERROR|SUMMARY' "$work/$name.log" || true
    if [ "$status" -ne 0 ]; then
        echo "$name failed (exit $status); the whole log: $work/$name.log"
        tail -n 40 "$work/$name.log"
    fi
    return "$status"
}

run fuzz_unpack unpack $(( seconds * 2 / 3 ))
run fuzz_decompress decompress $(( seconds - seconds * 2 / 3 ))

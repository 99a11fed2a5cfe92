#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a fixed time on its corpus.
#   scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/install-deps.sh

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKVE17_GUI=OFF -DBUILD_TESTING=OFF -DKVE17_FUZZ=ON \
    -DKVE17_SANITIZE=ON
cmake --build build-fuzz -j "$(nproc)" --target fuzz_transact fuzz_reading

status=0
for target in transact reading; do
    corpus=fuzz/corpus/$target
    work=$(mktemp -d)
    echo "fuzzing $target for ${seconds}s"
    # New inputs go to a scratch folder so a CI run leaves the repository as it was.
    if ! build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$work" "$corpus" 2>"$work/log"; then
        tail -40 "$work/log"
        echo "fuzz_$target found a fault; the input is in $work" >&2
        status=1
    else
        # The coverage reached shows that the libraries, not only the harness, are explored.
        grep -E 'cov: ' "$work/log" | tail -1
        grep -E 'stat::number_of_executed_units|Done' "$work/log" | tail -2
        rm -rf "$work"
    fi
done
exit $status

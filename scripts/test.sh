#!/usr/bin/env bash
# Builds everything and runs the whole test suite. In CI (CI=true) or with --full, it also
# builds and runs the suite once under AddressSanitizer and UndefinedBehaviorSanitizer, runs
# each fuzz target for a fixed time, and runs the chaos collection in its short form (60 s per
# history backend; by hand `scripts/chaos.sh --seconds 600` is the long form).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

full=false
[ "${CI:-}" = true ] && full=true
[ "${1:-}" = --full ] && full=true

export QT_QPA_PLATFORM=offscreen

# The history tests run on a private PostgreSQL too; they fail (not skip) when it is missing.
source scripts/pg-server.sh
start_private_pg
export KVE17_TEST_PG="$pg_url"

passed=0
failed=0
run_suite() { # build-dir, extra cmake args...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DKVE17_WERROR=ON "$@"
    cmake --build "$dir" -j "$(nproc)"
    local status=0
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 |
        tee "$dir/ctest.log" || status=$?
    local total bad
    total=$(sed -nE 's/.* tests failed out of ([0-9]+)$/\1/p' "$dir/ctest.log" | tail -1)
    bad=$(sed -nE 's/.*, ([0-9]+) tests failed out of [0-9]+$/\1/p' "$dir/ctest.log" | tail -1)
    passed=$((passed + ${total:-0} - ${bad:-0}))
    failed=$((failed + ${bad:-0}))
    if [ "$status" -ne 0 ]; then
        echo "test.sh: $passed passed, $failed failed"
        exit "$status"
    fi
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

if $full; then
    # Every event once under kills and database faults, checked against the simulator's journal.
    bash scripts/chaos.sh --build build --seconds "${KVE17_CHAOS_SECONDS:-60}" ||
        { echo "test.sh: the chaos collection found a fault"; exit 1; }
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKVE17_SANITIZE=ON
    bash scripts/fuzz.sh "${KVE17_FUZZ_SECONDS:-30}"
    # The Debian package, from the first build: installed, checked and removed again.
    bash scripts/package-check.sh build
fi

echo "test.sh: $passed passed, $failed failed"

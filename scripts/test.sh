#!/usr/bin/env bash
# Builds everything and runs the whole test suite. In CI (CI=true) or with --full, it also
# builds and runs the suite once under AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# each fuzz target for a fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

full=false
[ "${CI:-}" = true ] && full=true
[ "${1:-}" = --full ] && full=true

export QT_QPA_PLATFORM=offscreen

# A private PostgreSQL for the history tests, on a Unix socket in a temporary folder, stopped on
# exit. The server refuses to run as root, so as root it runs as the postgres user.
pg_bin=/usr/lib/postgresql/15/bin
pg_dir=$(mktemp -d /tmp/kve17-pg.XXXXXX)
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$pg_dir"
    as_pg=(runuser -u postgres --)
fi
stop_test_pg() {
    if [ -f "$pg_dir/data/postmaster.pid" ]; then
        "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$pg_dir"
}
trap stop_test_pg EXIT
"${as_pg[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -A trust -U kve17 -E UTF8 --locale=C.UTF-8 \
    >"$pg_dir/initdb.log" 2>&1 || { cat "$pg_dir/initdb.log"; exit 1; }
"${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w \
    -o "-c listen_addresses='' -k $pg_dir -c fsync=off -c max_connections=200" start >/dev/null ||
    { cat "$pg_dir/server.log"; exit 1; }
# The history tests fail (not skip) when this server is missing.
export KVE17_TEST_PG="postgresql://kve17@/postgres?host=$pg_dir"

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
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKVE17_SANITIZE=ON
    bash scripts/fuzz.sh "${KVE17_FUZZ_SECONDS:-30}"
fi

echo "test.sh: $passed passed, $failed failed"

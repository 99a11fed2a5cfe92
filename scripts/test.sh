#!/usr/bin/env bash
# Builds everything and runs the whole test suite. In CI (CI=true) or with --full, it also
# builds and runs the suite once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

full=false
[ "${CI:-}" = true ] && full=true
[ "${1:-}" = --full ] && full=true

export QT_QPA_PLATFORM=offscreen

run_suite() { # build-dir, extra cmake args...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DKVE17_WERROR=ON "$@"
    cmake --build "$dir" -j "$(nproc)"
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

if $full; then
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKVE17_SANITIZE=ON
fi

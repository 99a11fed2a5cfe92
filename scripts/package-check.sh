#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it on this machine, checks that
# an installed user gets everything (programs on PATH, manual pages, desktop entry, bash
# completion), then removes it and checks that nothing is left behind.
#   scripts/package-check.sh [build-dir]   (default: build, configured by scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh

passed=0
failed=0
check() { # description, command...
    local what=$1
    shift
    if "$@" >/tmp/kve17-pkg-check.log 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what" >&2
        sed 's/^/    /' /tmp/kve17-pkg-check.log >&2
    fi
}

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/kve17-archive_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/kve17-archive_*.deb)
echo "package: $deb"

# Errors fail the check; warnings are shown so they stay in sight.
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
check "lintian reports no errors" bash -c '! grep -q "^E: " <<<"$1"' _ "$lintian_out"

if dpkg-query -W -f='${Status}' kve17-archive 2>/dev/null | grep -q 'install ok installed'; then
    echo "kve17-archive is installed on this machine already; remove it first" >&2
    exit 1
fi
trap 'apt-get purge -y -qq kve17-archive >/dev/null 2>&1 || true' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
mapfile -t files < <(dpkg -L kve17-archive | while read -r f; do [ -f "$f" ] && echo "$f"; done)

for program in kve17ctl kve17-sim kve17-archive; do
    check "$program is on PATH" bash -c "command -v $program | grep -qx /usr/bin/$program"
    check "$program --version" env -i PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
        bash -c "$program --version | grep -q '0\\.'"
    check "$program --help" env -i PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
        bash -c "$program --help | grep -qi usage"
    check "man -w $program" man -w "$program"
done
check "the desktop entry validates" desktop-file-validate /usr/share/applications/kve17-archive.desktop
check "the icon is installed" test -f /usr/share/icons/hicolor/48x48/apps/kve17-archive.png
check "bash completes 'kve17ctl re' to read" bash -c '
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/kve17ctl
    COMP_WORDS=(kve17ctl re); COMP_CWORD=1; COMP_LINE="kve17ctl re"; COMP_POINT=${#COMP_LINE}
    _kve17ctl kve17ctl re kve17ctl
    [ "${COMPREPLY[*]}" = read ]'
check "bash completes 'kve17ctl collect --con' to --config" bash -c '
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/kve17ctl
    COMP_WORDS=(kve17ctl collect --con); COMP_CWORD=2
    COMP_LINE="kve17ctl collect --con"; COMP_POINT=${#COMP_LINE}
    _kve17ctl kve17ctl --con collect
    [ "${COMPREPLY[*]}" = --config ]'
examples=/usr/share/doc/kve17-archive/examples
check "the example collection units verify" \
    systemd-analyze verify "$examples/kve17-collect@.service" "$examples/kve17-collect@.timer"
check "the collection's system user is made, in group dialout" \
    bash -c 'id -nG kve17 | tr " " "\n" | grep -qx dialout'
check "the simulator's completion loads" bash -c '
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/kve17-sim
    complete -p kve17-sim'

apt-get purge -y -qq kve17-archive >/dev/null
trap - EXIT
left=()
for f in "${files[@]}"; do [ -e "$f" ] && left+=("$f"); done
check "removal leaves no file behind" test ${#left[@]} -eq 0
[ ${#left[@]} -eq 0 ] || printf '    left: %s\n' "${left[@]}" >&2

echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

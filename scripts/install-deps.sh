#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Does nothing when every package is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth x11-apps imagemagick fonts-dejavu-core poppler-utils
  libmodbus-dev python3 time
  acl attr libcli11-dev nlohmann-json3-dev qt6-charts-dev libqt6opengl6-dev
  ser2net socat postgresql-15 libpq-dev libsqlite3-dev sqlite3
  dpkg-dev fakeroot file help2man lintian desktop-file-utils bash-completion man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt_get() { if [ "$(id -u)" -eq 0 ]; then apt-get "$@"; else sudo apt-get "$@"; fi; }
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing,
# so that a machine that already has them is not touched. Runs apt as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config dpkg-dev
  qt6-base-dev
  librtmidi-dev libjack-jackd2-dev jackd2 procps
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xauth xvfb fonts-dejavu-core imagemagick openbox xdotool x11-utils
  python3-mido smf-utils midicsv
  lintian appstream desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "These packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

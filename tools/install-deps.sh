#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only
# when one of them is missing, so a second run costs nothing. Given package
# names, installs those instead (the cross build's toolchains).
set -euo pipefail

packages=("$@")
[ "$#" -gt 0 ] || packages=(
  build-essential cmake pkg-config
  libevent-dev liblog4c-dev libpcre3-dev libexpat1-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev valgrind util-linux tzdata
  man-db file dpkg-dev strace git
  lintian devscripts shellcheck mandoc systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "$0: run as root to install packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

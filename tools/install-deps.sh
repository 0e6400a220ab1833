#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only
# when one of them is missing, so a second run costs nothing. Given package
# names, installs those instead (the cross build's toolchains).
#
# Every name is one that Debian 12 and Debian 13 both have: the release's
# default clang and its sanitizer and fuzzer runtime (libclang-rt-dev), not
# a version of them by number, and PCRE2.
set -euo pipefail

packages=("$@")
[ "$#" -gt 0 ] || packages=(
  build-essential cmake pkg-config ccache
  libevent-dev liblog4c-dev libpcre2-dev libexpat1-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev valgrind util-linux tzdata
  man-db file dpkg-dev strace git
  lintian devscripts shellcheck mandoc systemd
  mmdebstrap
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
  apt-get install -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends "${missing[@]}"
fi

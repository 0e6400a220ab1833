#!/usr/bin/env bash
# Builds the daemon for the appliance with Debian's cross toolchain.
#
#   tools/cross-build.sh armhf|arm64 [--no-tests] [--package]
#
# Installs the cross toolchain and qemu-user from Debian when they are
# missing, makes build-<arch>/sysroot from the target's own packages
# (downloaded with a private apt state and unpacked with dpkg-deb, so the
# host's packages and package lists stay as they are), configures CMake with
# cmake/toolchain-<arch>.cmake and builds into build-<arch>/. The tests are
# built too (they run under qemu-user through CTest) unless --no-tests says
# to build only the daemon, arctl, devinfod and their libraries. --package then
# makes the Debian package of that architecture in build-<arch>/.
#
# The armhf daemon runs as
#   qemu-arm -L build-armhf/sysroot build-armhf/autoresponsed
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: $0 armhf|arm64 [--no-tests] [--package]" >&2
  exit 2
}

arch=${1:-}
case "$arch" in
  armhf | arm64) ;;
  *) usage ;;
esac
shift
tests=ON
package=0
for option in "$@"; do
  case "$option" in
    --no-tests) tests=OFF ;;
    --package) package=1 ;;
    *) usage ;;
  esac
done

build=build-$arch
sysroot=$build/sysroot
apt_dir=$build/apt

# The toolchain and the emulator, from Debian, only when one is missing.
./tools/install-deps.sh crossbuild-essential-"$arch" qemu-user cmake pkg-config dpkg-dev

# What the sysroot holds: the run-time libraries the binaries need (also
# what qemu-user loads them with) and the headers and link files they are
# built against. The C library's headers and start files come from the
# cross toolchain, which is built from the same glibc release. A library
# whose interface holds a time_t was renamed with a "t64" suffix when
# Debian 13 made time_t 64 bits wide on armhf: the name this release has
# is taken.
libraries=(libc6 libgcc-s1 libstdc++6 libevent-core-2.1-7 liblog4c3 libpcre2-8-0 libexpat1)
develop=(libevent-dev liblog4c-dev libpcre2-dev libexpat1-dev)
# With the tests come the benchmarks, which run under qemu-user too.
[ "$tests" = ON ] && develop+=(libgtest-dev libbenchmark-dev)
release=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
wanted=$(printf '%s\n' "$release" "${libraries[@]}" "${develop[@]}" | sort)

if [ "$(cat "$sysroot/.packages" 2>/dev/null)" != "$wanted" ]; then
  echo "making $sysroot from the $arch packages of this release"
  # What CMake found in an earlier sysroot is looked for again.
  rm -rf "$sysroot" "$apt_dir" "$build/CMakeCache.txt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/debs" "$apt_dir/trees" "$sysroot"
  : > "$apt_dir/status"
  # A private apt state with the target as its only architecture: the
  # machine's sources, but its own lists, cache and (empty) status.
  apt_options=(-o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
               -o "Dir::State::Lists=$PWD/$apt_dir/lists" -o "Dir::State::Status=$PWD/$apt_dir/status"
               -o "Dir::Cache=$PWD/$apt_dir/cache" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" -qq update
  runtime=()
  for p in "${libraries[@]}"; do
    if apt-cache "${apt_options[@]}" show "${p}t64" > /dev/null 2>&1; then runtime+=("${p}t64"); else runtime+=("$p"); fi
  done
  # The benchmarks' library, by the name this release gives it.
  if [ "$tests" = ON ]; then
    runtime+=("$(apt-cache "${apt_options[@]}" depends libbenchmark-dev | sed -n 's/^ *Depends: \(libbenchmark1[^ ]*\)$/\1/p' | head -n 1)")
  fi
  (cd "$apt_dir/debs" && apt-get "${apt_options[@]}" -qq download "${runtime[@]}" "${develop[@]}")
  for deb in "$apt_dir"/debs/*.deb; do
    dpkg-deb -x "$deb" "$sysroot"
  done
  # Links that name an absolute path (libexpat.so -> /lib/...) would lead
  # the linker out of the sysroot into the host's libraries.
  find "$sysroot" -type l -lname '/*' | while read -r link; do
    ln -sfr "$sysroot$(readlink "$link")" "$link"
  done
  # Each run-time library also as a package tree of its own (files and
  # control area), where dpkg-shlibdeps finds its symbols or shlibs file:
  # that is how the package's dependencies are computed from the binaries.
  for p in "${runtime[@]}"; do
    dpkg-deb -R "$apt_dir"/debs/"${p}"_*.deb "$apt_dir/trees/$p"
  done
  rm -rf "$apt_dir/lists" "$apt_dir/cache" "$apt_dir/debs"
  printf '%s\n' "$wanted" > "$sysroot/.packages"
fi

# Installed on the appliance under /usr, as its package puts it.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DAR_TESTS="$tests" >/dev/null
make -C "$build" -j"$(nproc)" --no-print-directory

if [ "$package" = 1 ]; then
  (cd "$build" && rm -f ./*.deb && cpack -G DEB > cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
  ls "$build"/*.deb
fi

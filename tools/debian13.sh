#!/usr/bin/env bash
# The tree on Debian 13 ("trixie") as on Debian 12: in a Debian 13 root,
# tools/install-deps.sh installs what is needed, the tree builds with
# warnings as errors, every host test passes, the host packages are made
# and checked (tools/package-check.sh), and the armhf build is made
# against Debian 13's armhf packages, with its packages checked too.
#
#   tools/debian13.sh            as root, on the machine
#   tools/debian13.sh --inside   in the root (what the first runs there)
#
# The root is made once with mmdebstrap from the mirror that this
# machine's own apt sources name for Debian, and kept with a compiler
# cache under /var/cache/autoresponsed-test, so a second run costs little;
# one older than two weeks is made again. Each run copies the tree into a
# directory of its own in the root and works in a mount namespace of its
# own, where that directory is seen as /work/tree (the same paths on every
# run, as the compiler cache wants them) and only /proc and /dev are bound
# into the root from the machine: no /sys, /run or /dev/pts. The root is
# bound onto itself there, so that the tests can make mount namespaces in
# it as they do on the machine. Runs on the same machine share the root: a
# lock keeps it from being made or changed while another run uses it.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n=== debian 13 [%d s] %s\n' "$SECONDS" "$*"; }
jobs=$(nproc)


if [ "${1:-}" = --inside ]; then
  step "tools/install-deps.sh"
  ./tools/install-deps.sh
  # Nothing built here is compared byte for byte: the builds go through ccache.
  export CCACHE_DIR=/var/cache/ccache CCACHE_MAXSIZE=2G
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  step "build, warnings as errors"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  make -C build -j"$jobs" --no-print-directory
  step "tests"
  (cd build && ctest --output-on-failure -j"$jobs")
  step "host packages"
  (cd build && cpack -G DEB > cpack.log 2>&1) || { cat build/cpack.log; exit 1; }
  deb=$(ls build/autoresponsed_*_"$(dpkg --print-architecture)".deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$(basename "$deb"): Depends: $depends"
  grep -q "libpcre2-8-0" <<<"$depends" || { echo "$deb: no PCRE2 among its dependencies"; exit 1; }
  ./tools/package-check.sh build/*.deb
  step "armhf, built against Debian 13's armhf packages"
  ./tools/cross-build.sh armhf --no-tests --package
  deb=$(ls build-armhf/autoresponsed_*_armhf.deb)
  echo "$(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
  ./tools/package-check.sh build-armhf/*.deb
  step "done"
  exit 0
fi

[ "$(id -u)" -eq 0 ] || { echo "$0: run as root (it makes a root with mmdebstrap)" >&2; exit 1; }

# The mirror this machine's apt sources name for Debian itself: the first
# source of packages ("deb") whose suites hold this release's own
# codename, in either of apt's two formats.
codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
sources=()
[ -f /etc/apt/sources.list ] && sources+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && sources+=("$f")
done
mirror=$(
  for f in "${sources[@]}"; do
    case "$f" in
      *.sources)
        awk -v want="$codename" 'BEGIN { RS = ""; FS = "\n" }
          { types = uris = suites = ""; enabled = 1
            for (i = 1; i <= NF; i++) {
              if ($i ~ /^Types:/) types = " " substr($i, 7) " "
              if ($i ~ /^URIs:/) uris = substr($i, 6)
              if ($i ~ /^Suites:/) suites = " " substr($i, 8) " "
              if ($i ~ /^Enabled:[[:space:]]*no/) enabled = 0
            }
            if (enabled && types ~ /[[:space:]]deb[[:space:]]/ && suites ~ ("[[:space:]]" want "[[:space:]]")) {
              split(uris, u, " "); for (k in u) if (u[k] != "") { print u[k]; exit }
            } }' "$f"
        ;;
      *)
        sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk -v want="$codename" '$1 == "deb" && $3 == want { print $2; exit }'
        ;;
    esac
  done | head -n 1
)
[ -n "$mirror" ] || { echo "$0: no Debian mirror for $codename in this machine's apt sources" >&2; exit 1; }

cache=/var/cache/autoresponsed-test
root=$cache/trixie
run=/work/run-$$
mkdir -p "$cache"
exec 9>"$cache/trixie.lock"
cleanup() { rm -rf "${root:?}$run"; }
trap cleanup EXIT
trap 'exit 1' INT TERM

# A command in the root, in a mount namespace of this run's: whatever it
# mounts goes when the command ends.
in_root() {
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  unshare --mount --propagation private /bin/sh -c '
    root=$1 run=$2; shift 2
    mount --bind "$root" "$root" && mount --bind /proc "$root/proc" && mount --bind /dev "$root/dev" &&
      mount --bind "$root$run" "$root/work/tree" &&
      exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" "$@"' sh "$root" "$run" "$@"
}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

step "the root, from $mirror"
flock 9
if [ -e "$root/.made" ] && [ -z "$(find "$root/.made" -mtime +13)" ]; then
  echo "kept from $(date -r "$root/.made" '+%Y-%m-%d %H:%M')"
else
  rm -rf "$root"
  mmdebstrap --variant=minbase --mode=root --quiet trixie "$root" "$mirror"
  # Packages installed there start no service.
  printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  touch "$root/.made"
fi
mkdir -p "$root$run" "$root/work/tree"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$root$run"
# What the tree needs, and the armhf cross toolchain, installed while no
# other run uses the root; then it is shared.
in_root /work/tree/tools/install-deps.sh
in_root /work/tree/tools/install-deps.sh crossbuild-essential-armhf qemu-user cmake pkg-config dpkg-dev
flock -s 9

in_root /bin/sh -c "cd /work/tree && exec ./tools/debian13.sh --inside"

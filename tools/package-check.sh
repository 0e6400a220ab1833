#!/usr/bin/env bash
# The checks of a Debian package of any architecture, on Debian 12 and
# Debian 13 alike: lintian with every tag down to the pedantic ones (what
# stays is overridden in the package, each with its reason), and Debian's
# hardening in each program.
#
#   tools/package-check.sh DEB...
set -euo pipefail
cd "$(dirname "$0")/.."

# Lintian looks for misspelt words in every byte run of a program, machine
# code included, where instruction bytes can spell one (" mor"); such a
# finding counts only when the word stands in the project's own texts.
# The package's overrides are for Debian 12's lintian, whose tags they
# name; Debian 13's no longer has one of them and calls its override
# alien: that counts only for a tag the package does not override.
accepted() {
  local line word tag
  while IFS= read -r line; do
    if [[ $line =~ spelling-error-in-binary\ ([^ ]+)\  ]]; then
      word=${BASH_REMATCH[1]}
      grep -rqwF --include="*.cc" --include="*.h" -- "$word" src tools || continue
    fi
    if [[ $line =~ :\ alien-tag\ ([^ ]+)\ \[usr/share/lintian/overrides/ ]]; then
      tag=${BASH_REMATCH[1]}
      grep -qE "^[^#]*: $tag( |$)" dist/lintian/* && continue
    fi
    printf '%s\n' "$line"
  done
}

# Control-flow protection is compiled in, but the C start files of both
# releases lack its marks, so no program carries it whole. Debian 13's
# hardening-check also looks for branch protection, which only arm64
# has; the packages it checks are those of x86 and armhf.
hardening_options=(--quiet --nocfprotection)
if grep -q -- --nobranchprotection <<<"$(hardening-check --help 2>&1)"; then
  hardening_options+=(--nobranchprotection)
fi

tree=$(mktemp -d /tmp/ar-package-XXXXXX)
trap 'rm -rf "$tree"' EXIT

for deb in "$@"; do
  findings=$(lintian -I --pedantic --fail-on none "$deb" 2>&1) ||
    { printf '%s\n' "$findings"; echo "$deb: lintian failed"; exit 1; }
  findings=$(printf '%s\n' "$findings" | accepted)
  if grep -q '^[EWIPX]:' <<<"$findings"; then
    printf '%s\n' "$findings"
    echo "$deb: lintian findings"
    exit 1
  fi
  case "$deb" in
    *-dbg_*)
      echo "$(basename "$deb"): lintian clean"
      continue
      ;;
  esac
  rm -rf "${tree:?}"/*
  dpkg-deb -x "$deb" "$tree"
  hardening-check "${hardening_options[@]}" "$tree/usr/sbin/autoresponsed" "$tree/usr/sbin/arctl" \
    "$tree/usr/bin/devinfod" || { echo "$deb: hardening-check failed"; exit 1; }
  echo "$(basename "$deb"): lintian and hardening-check clean"
done

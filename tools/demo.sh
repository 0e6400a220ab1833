#!/usr/bin/env bash
# The demo: a development infod, the daemon in a private root with a
# sample configuration, and three stories told through infod: a rack
# temperature crossing its threshold and falling back, an SMS command
# answered by SMS, and a UPS going on battery and coming back.
# Installs what is missing and builds first. Leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

./tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
make -C build -j"$(nproc)" --no-print-directory autoresponsed-dev devinfod >/dev/null

root=$(mktemp -d /tmp/ar-demo-XXXXXX)
pids=()
cleanup() {
  # The daemon first, so it does not report infod going away.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

bold=$(tput bold 2>/dev/null || true)
plain=$(tput sgr0 2>/dev/null || true)
say() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
infod() { "$top/build/devinfod" "$1" --socket "$root/var/run/infod-sock" "${@:2}"; }
push() { printf '%s   push %s = %s%s\n' "$bold" "$1" "$2" "$plain"; infod push "$1" "$2"; sleep 1.5; }

mkdir -p "$root"/{var/run,etc/config,etc/scripts,bin,tmp,var/spool/sms/outgoing,scripts}
cat > "$root/scripts/cooling.sh" <<'SCRIPT'
#!/bin/sh
echo "   [script] $0: $*"
SCRIPT
chmod +x "$root/scripts/cooling.sh"
cp "$root/scripts/cooling.sh" "$root/scripts/ups.sh"

# The configuration to start from that is installed with the daemon, with
# its scripts in the private root.
sed "s|/etc/scripts/|$root/scripts/|g" "$top/dist/examples/config.xml" > "$root/etc/config/config.xml"

say "development infod on $root/var/run/infod-sock (every frame it receives is shown as <-)"
# Through a process substitution, so that $! is devinfod itself and the
# clean-up stops it, not the filter.
"$top/build/devinfod" serve --socket "$root/var/run/infod-sock" --log - 2>/dev/null \
  > >(sed -u 's/^/   infod /') &
pids+=($!)
for _ in $(seq 100); do [ -S "$root/var/run/infod-sock" ] && break; sleep 0.05; done

say "the daemon, with its fixed paths under $root (its log is shown as 'log')"
AR_ROOT="$root" bash -c 'exec -a autoresponsed "$0"' "$top/build/autoresponsed-dev" \
  2> >(sed -u 's/^[^ ]* [^ ]* autoresponsed\[[0-9]*\]: /   log   /') &
pids+=($!)
sleep 2

say "1. the rack's inlet temperature rises past 30 degrees and falls back"
push config.ports.port1.enviro.temp 24.5
push config.ports.port1.enviro.temp 31.5
push config.ports.port1.enviro.temp 30.5
push config.ports.port1.enviro.temp 27.5

say "2. an SMS command arrives; the daemon answers the sender through the SMS spool"
push config.sms.incoming "+15551234567:status please"
for f in "$root"/var/spool/sms/outgoing/*; do
  [ -e "$f" ] || continue
  echo "   spool file $(basename "$f"):"
  sed 's/^/   | /' "$f"; echo
done

say "3. the UPS goes on battery, then back online"
push config.ups.ups1.event.status onbatt
push config.ups.ups1.event.status online

say "states now in infod"
for n in 1 2 3; do
  printf '   autoresponse%s: %s\n' "$n" "$(infod get config.autoresponse.autoresponse$n.refs.ref1.status)"
done
say "done"

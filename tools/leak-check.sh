#!/usr/bin/env bash
# Runs the development daemon under valgrind through a storm of reloads
# while updates flow and actions run, then ends it by stopping infod, and
# fails when valgrind finds a leak or a memory error.
# Usage: tools/leak-check.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(mktemp -d /tmp/ar-leak-XXXXXX)
infod_pid=""
cleanup() {
  if [ -n "$infod_pid" ]; then kill "$infod_pid" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT

mkdir -p "$root"/{var/run,etc/config,etc/scripts,bin,tmp,var/spool/sms/outgoing}
cat > "$root/bin/act" <<'SCRIPT'
#!/bin/sh
exit 0
SCRIPT
chmod +x "$root/bin/act"

# The configuration, with a note under one rule that nothing reads: an
# edit that changes that rule, so a reload builds it again.
write_config() {
  local edited=$1 note=$2
  {
    echo '<config><autoresponse><total>3</total><concurrent_actions>2</concurrent_actions>'
    for n in 1 2 3; do
      echo "<autoresponse$n><name>rule$n</name><check_type>environmental</check_type>"
      [ "$n" = "$edited" ] && echo "<note>$note</note>"
      echo "<enviro><check_type>temp</check_type><dev_ref>config.ports.port$n.enviro</dev_ref>"
      echo "<trigger_val>30</trigger_val><hysteresis>1</hysteresis></enviro>"
      for list in trigger_actions resolve_actions; do
        echo "<$list><total>1</total><action1><name>$list$n</name><action_type>custom</action_type>"
        echo "<custom><script>$root/bin/act</script><args><total>1</total><arg1>\$AR_NAME</arg1></args></custom>"
        echo "</action1></$list>"
      done
      echo "</autoresponse$n>"
    done
    echo '</autoresponse></config>'
  } > "$root/etc/config/config.xml.new"
  mv "$root/etc/config/config.xml.new" "$root/etc/config/config.xml"
}
write_config 0 ""

"$build/devinfod" serve --socket "$root/var/run/infod-sock" --log "$root/infod.log" 2>/dev/null &
infod_pid=$!
for _ in $(seq 100); do [ -S "$root/var/run/infod-sock" ] && break; sleep 0.05; done

AR_ROOT="$root" valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect \
  --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --track-fds=no \
  "$build/autoresponsed-dev" 2> "$root/valgrind.log" &
daemon_pid=$!
for _ in $(seq 200); do grep -q "sub ard config.ports.port3" "$root/infod.log" 2>/dev/null && break; sleep 0.05; done

# Reloads of a changed file (each a rule built again: its references let
# go, its restart record rewritten) alternate with reloads of the same one.
for round in $(seq 60); do
  n=$(( round % 3 + 1 ))
  if [ $(( round % 2 )) -eq 0 ]; then write_config "$n" "round $round"; fi
  kill -HUP "$daemon_pid"
  if [ $(( round % 2 )) -eq 0 ]; then value=35; else value=20; fi
  "$build/devinfod" push --socket "$root/var/run/infod-sock" "config.ports.port$n.enviro.temp" "$value"
  # Each signal its own load: the next edit waits for this load's result.
  for _ in $(seq 400); do
    [ "$(grep -c 'reload.result 0' "$root/infod.log")" -gt "$round" ] && break
    sleep 0.05
  done
done
sleep 1
kill "$infod_pid"
infod_pid=""
status=0
wait "$daemon_pid" || status=$?
if [ "$status" -ne 1 ]; then
  echo "leak-check: the daemon ended with status $status (expected 1)"
  grep -v '^[^=]' "$root/valgrind.log" | head -60 || true
  grep '^==' "$root/valgrind.log" | head -80 || true
  exit 1
fi
if grep -q '^==' "$root/valgrind.log"; then
  grep '^==' "$root/valgrind.log" | head -80
  exit 1
fi
changed=$(grep -c 'reload.changes 0 .* changed: ' "$root/infod.log" || true)
if [ "$changed" -ne 30 ]; then
  echo "leak-check: only $changed reloads built a rule again"
  exit 1
fi
echo "leak-check: $(grep -c 'Finished action' "$root/infod.log") actions reaped through 60 reloads ($changed of a changed file), no leak"

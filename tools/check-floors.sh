#!/bin/sh
# Fails when a source file includes a floor above its own: the folders of
# src/ from the bottom up, each including only itself and those below.
set -eu
floors="platform base wire model link checks actions config engine daemon"
src=${1:-$(dirname "$0")/../src}
rank() {
  r=0
  for f in $floors; do
    [ "$f" = "$1" ] && { echo "$r"; return; }
    r=$((r + 1))
  done
  echo 99
}
status=0
for floor in $floors; do
  own=$(rank "$floor")
  for file in "$src/$floor"/*.h "$src/$floor"/*.cc; do
    [ -e "$file" ] || continue
    # The folders the file includes from, one word each.
    used_folders=$(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file" | sort -u)
    for used in $used_folders; do
      if [ "$(rank "$used")" -gt "$own" ]; then
        echo "${file#"$src"/}: includes $used/, a floor above $floor/" >&2
        status=1
      fi
    done
  done
done
for dir in "$src"/*/; do
  name=$(basename "$dir")
  [ "$(rank "$name")" -ne 99 ] || { echo "src/$name/ is on no floor" >&2; status=1; }
done
exit $status

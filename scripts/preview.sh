#!/usr/bin/env bash
# Builds overlay-preview and renders every scene in examples/ on a simulated
# desktop of two monitors (2560x1440 at 144 DPI, primary, and 1920x1080 at 96
# DPI to its right), with the game window across both and the cursor over it
# on the second monitor. Each example gets its own folder:
#   out/preview/<example>/monitor-1.png, monitor-2.png, vorlune-overlay.log
# Usage: scripts/preview.sh [--update-docs]
#   --update-docs   also copy the pictures to docs/images/<example>-monitor-N.png
#   BUILD_DIR=dir   builds there instead of the sim preset's build/sim
set -euo pipefail
cd "$(dirname "$0")/.."

update_docs=0
case ${1:-} in
  "") ;;
  --update-docs) update_docs=1 ;;
  *) echo "usage: scripts/preview.sh [--update-docs]" >&2; exit 2 ;;
esac

bash scripts/setup.sh

if [ -n "${BUILD_DIR:-}" ]; then
  cmake --preset sim -B "$BUILD_DIR" >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target overlay-preview
  build=$BUILD_DIR
else
  cmake --preset sim >/dev/null
  cmake --build --preset sim -j "$(nproc)" --target overlay-preview
  build=build/sim
fi

status=0
for scene in examples/*.json; do
  name=$(basename "$scene" .json)
  echo
  echo "=== $name ==="
  "$build/tools/overlay-preview" \
      --monitor 2560x1440+0+0@144,primary --monitor 1920x1080+2560+0@96 \
      --game-window 1600,200,3600,1000 --cursor 3000,500 --time 1 \
      --background '#2b3440' --out "out/preview/$name" "$scene" || status=1
  if [ "$update_docs" = 1 ]; then
    mkdir -p docs/images
    for png in out/preview/"$name"/monitor-*.png; do
      cp "$png" "docs/images/$name-$(basename "$png")"
    done
  fi
done
exit $status

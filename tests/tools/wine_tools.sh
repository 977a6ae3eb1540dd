#!/usr/bin/env bash
# The Windows builds of overlay-frame and sample-parent, run under Wine:
# their exit statuses, their reports, file names outside ASCII, and the
# sample parent's handling of a renderer that ends early (under Wine the
# renderer finds no DirectComposition and ends with exit code 5).
# Usage: wine_tools.sh OVERLAY-FRAME.exe SAMPLE-PARENT.exe VORLUNE-OVERLAY.exe EXAMPLES_DIR
set -euo pipefail

# Wine's user32 wants a display: run the whole script inside one virtual one.
if [ -z "${VORLUNE_IN_XVFB:-}" ]; then
  exec xvfb-run -a env VORLUNE_IN_XVFB=1 bash "$0" "$@"
fi

frame_tool=$1 sample_parent=$2 renderer=$3 examples=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine cmd /c exit 0 >/dev/null 2>&1 || true

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

mkdir -p "$work/app"
cp "$frame_tool" "$work/app/overlay-frame.exe"
cp "$sample_parent" "$work/app/sample-parent.exe"
cp "$renderer" "$work/app/vorlune-overlay.exe"
cp "$examples/hud.json" "$work/app/szene-ü.json"
printf 'not a frame, but long enough for a header' > "$work/app/bad.bin"
cd "$work/app"

# run NAME EXPECTED-STATUS EXPECTED-TEXT COMMAND...: the status, and the text somewhere in stdout+stderr.
run() {
  local name=$1 want=$2 text=$3; shift 3
  local got=0 output
  wine "$@" >"$work/output" 2>&1 || got=$?
  output=$(tr -d '\r' <"$work/output")
  if [ "$got" != "$want" ]; then fail "$name: exit status $got, expected $want"; echo "$output"; return; fi
  if ! grep -q -F -- "$text" <<<"$output"; then fail "$name: no '$text' in:"; echo "$output"; return; fi
  pass "$name"
}

run "check, name outside ASCII" 0 "szene-ü.json: accepted: 11 commands (fillRect 4, strokeRect 1, line 3, text 2, rainbowCursor 1), 0 skipped" \
  ./overlay-frame.exe check szene-ü.json
run "encode" 0 "wrote hud.bin:" ./overlay-frame.exe encode szene-ü.json -o hud.bin
run "encode again over the first" 0 "wrote hud.bin:" ./overlay-frame.exe encode szene-ü.json -o hud.bin
run "decode" 0 '"kind": "rainbowCursor"' ./overlay-frame.exe decode hud.bin
wine ./overlay-frame.exe decode hud.bin 2>/dev/null | tr -d '\r' > decoded.json
run "encode what decode wrote" 0 "wrote again.bin:" ./overlay-frame.exe encode decoded.json -o again.bin
if cmp -s hud.bin again.bin; then pass "decode then encode gives the same frame"; else fail "decode then encode changed the frame"; fi
run "check a bad frame" 1 "bad.bin: rejected: invalid frame magic" ./overlay-frame.exe check bad.bin
run "usage" 2 "overlay-frame: unknown command 'frob'" ./overlay-frame.exe frob
if [ -e hud.bin.partial ]; then fail "a temporary file stayed behind"; else pass "no temporary file left"; fi

run "sample parent, missing scene" 1 "missing.json: no such file" ./sample-parent.exe missing.json
if [ -e logs ]; then fail "the renderer was started for a missing scene"; else pass "nothing started for a missing scene"; fi
run "sample parent, bad option" 2 "usage: sample-parent" ./sample-parent.exe --frob
run "sample parent, renderer ends early" 1 "renderer ended with exit code 5" ./sample-parent.exe --hold 0 szene-ü.json

echo "$failures failed"
[ "$failures" -eq 0 ]

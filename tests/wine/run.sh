#!/usr/bin/env bash
# Runs the real vorlune-overlay.exe under Wine and checks exit codes and log
# files. Usage: run.sh RENDERER.exe PARENT_CHECK.exe
set -euo pipefail

# Wine's user32 wants a display: run the whole script inside one virtual one.
if [ -z "${VORLUNE_IN_XVFB:-}" ]; then
  exec xvfb-run -a env VORLUNE_IN_XVFB=1 bash "$0" "$@"
fi

renderer=$1
parent=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# Every run gets a fresh folder, so each log holds that run's lines alone.
fresh() {
  rm -rf "$work/app"; mkdir -p "$work/app"
  cp "$renderer" "$work/app/vorlune-overlay.exe"
  cp "$parent" "$work/app/parent_check.exe"
}

# Log lines without their time stamps ("Y-M-D H:M:S "), after checking that
# each line has one and ends in CR LF.
messages() {
  local log="$work/app/logs/vorlune-overlay.log"
  [ -f "$log" ] || { echo "<no log>"; return; }
  if grep -q -v $'\r$' "$log"; then echo "<line without CR LF>"; fi
  if grep -q -v -E '^[0-9]{4}-[0-9]{1,2}-[0-9]{1,2} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2} ' "$log"; then echo "<line without time stamp>"; fi
  sed -E 's/^[0-9]+-[0-9]+-[0-9]+ [0-9]+:[0-9]+:[0-9]+ //; s/\r$//' "$log"
}

expect() {  # name, expected exit code, actual exit code, expected lines (one string)
  local name=$1 want=$2 got=$3 lines=$4
  local seen; seen=$(messages)
  if [ "$got" != "$want" ]; then fail "$name: exit code $got, expected $want"; else pass "$name: exit code $got"; fi
  if [ "$seen" != "$lines" ]; then
    fail "$name: log lines differ"; echo "--- expected"; echo "$lines"; echo "--- got"; echo "$seen"
  else
    pass "$name: log lines"
  fi
}

run_all() {
  # Wine prints its first-start chatter on the first run; do it once up front.
  wine cmd /c exit 0 >/dev/null 2>&1 || true

  fresh
  set +e; (cd "$work/app" && wine ./vorlune-overlay.exe) >/dev/null 2>&1; code=$?; set -e
  if [ "$code" = 1 ]; then pass "no arguments: exit code 1"; else fail "no arguments: exit code $code, expected 1"; fi
  if [ -e "$work/app/logs" ]; then fail "no arguments: a logs directory was created"; else pass "no arguments: no logs directory"; fi

  fresh
  set +e; (cd "$work/app" && wine ./vorlune-overlay.exe --parent-pid 4000000000) >/dev/null 2>&1; code=$?; set -e
  expect "unknown parent" 2 "$code" $'renderer starting\ncould not open parent process'

  # A real parent: the renderer opens it, registers its classes, creates the
  # control window and then finds no graphics stack it can build, since
  # Wine has no DirectComposition.
  fresh
  set +e; (cd "$work/app" && wine ./parent_check.exe ./vorlune-overlay.exe) >/dev/null 2>&1; code=$?; set -e
  expect "real parent" 5 "$code" \
    $'renderer starting\nhardware graphics unavailable; falling back to WARP\ncould not create WARP graphics devices'

  echo "$failures failed"
  [ "$failures" -eq 0 ]
}

run_all

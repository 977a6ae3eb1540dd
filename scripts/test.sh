#!/usr/bin/env bash
# Builds and runs every test: the simulation build with g++, with clang++ and
# with AddressSanitizer + UndefinedBehaviorSanitizer; the Windows cross build
# with its checks under Wine; and the frame decoder's fuzzer for a bounded time.
# Usage: scripts/test.sh [fuzz seconds, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-60}
jobs=$(nproc)

bash scripts/setup.sh

step() { echo; echo "=== $* ==="; }

for preset in sim clang asan; do
  step "$preset: build and test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

step "windows: cross build, checks of the real executable under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
(cd build/windows && ctest --output-on-failure)

step "fuzz: the frame decoder for ${fuzz_seconds} s"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target decoder_fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/fuzz/corpus/* "$corpus"/
build/fuzz/tests/fuzz/decoder_fuzz -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus"

step "all tests passed"

#!/usr/bin/env bash
# Builds the Windows programs and packs them for parent authors:
#   dist/vorlune-overlay-<version>.zip  with one folder vorlune-overlay-<version>/ holding
#   vorlune-overlay.exe, overlay-frame.exe, sample-parent.exe, README.md, examples/ and
#   SHA256SUMS (the SHA-256 of every other file in the folder).
# Usage: scripts/package.sh [VERSION]
#   VERSION defaults to the latest tag vX.Y.Z (without the v), else dev-<commit>.
#   BUILD_DIR=dir builds there instead of the preset's build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."

version=${1:-}
if [ -z "$version" ]; then
  version=$(git describe --tags --match 'v[0-9]*' 2>/dev/null | sed 's/^v//' || true)
fi
if [ -z "$version" ]; then
  version="dev-$(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
fi
case $version in
  *[!A-Za-z0-9._+-]*) echo "package: version '$version' may hold only letters, digits and . _ + -" >&2; exit 2 ;;
esac

bash scripts/setup.sh

if [ -n "${BUILD_DIR:-}" ]; then
  cmake --preset windows -B "$BUILD_DIR" >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
  build=$BUILD_DIR
else
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$(nproc)"
  build=build/windows
fi

executables=(
  "$build/renderer/vorlune-overlay.exe"
  "$build/tools/overlay-frame.exe"
  "$build/tools/sample-parent.exe"
)

# The programs must run on a clean Windows machine: no compiler runtime DLLs.
for exe in "${executables[@]}"; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep -i -E 'DLL Name: (libstdc\+\+|libgcc|libwinpthread)'; then
    echo "package: $exe needs a compiler runtime DLL" >&2
    exit 1
  fi
done

name="vorlune-overlay-$version"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/examples"
cp "${executables[@]}" README.md "$stage/$name/"
# Symbols help nobody who runs the programs; the build folder keeps them.
x86_64-w64-mingw32-strip "$stage/$name"/*.exe
cp examples/*.json "$stage/$name/examples/"
(
  cd "$stage/$name"
  find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum > SHA256SUMS
  sha256sum --check --quiet SHA256SUMS
)

mkdir -p dist
zip_path="dist/$name.zip"
rm -f "$zip_path"
# Fixed times and order, so that the same files give the same zip.
find "$stage/$name" -exec touch -h -d '2000-01-01 00:00:00 UTC' {} +
(cd "$stage" && find "$name" | LC_ALL=C sort | zip -q -X -@ "$OLDPWD/$zip_path")

echo "package: $zip_path"
unzip -l "$zip_path" | sed 's/^/  /'

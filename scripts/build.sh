#!/usr/bin/env bash
# Builds the release plug-in DLLs into out/ (runs the setup first).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
./scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Thornquay
mkdir -p out
for dll in build/win32/bin/*.dll; do
  cp "$dll" out/
done
echo "plug-ins in $(pwd)/out:"
ls out

#!/usr/bin/env bash
# Builds the release plug-in DLLs into out/ (runs the setup first).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
./scripts/setup.sh
cmake --preset win32 >/dev/null
plugins=(Ravelstone Glimmerward Thornquay)
cmake --build --preset win32 --target "${plugins[@]}"
mkdir -p out
for name in "${plugins[@]}"; do
  cp "build/win32/bin/$name.dll" out/
done
echo "plug-ins in $(pwd)/out:"
ls out

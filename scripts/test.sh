#!/usr/bin/env bash
# Builds every configuration and runs every test: the host build (native), the sanitizer build
# (AddressSanitizer, UBSan and a short run of each fuzzer) and the win32 build under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
. scripts/wine-env.sh
rs_ensure_32bit_exec
rs_ensure_display
rs_ensure_prefix
rs_keep_server

status=0
for preset in host host-asan win32; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done
exit $status

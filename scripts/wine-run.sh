#!/usr/bin/env bash
# Runs one Windows test program under 32-bit Wine and hands its exit code back to CTest.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
rs_ensure_32bit_exec
rs_ensure_display
rs_ensure_prefix
rs_keep_server
wine "$@"
status=$?
# 139: Wine's own loader died by SIGSEGV. Windows code that faults becomes a Windows exception
# with its own exit code; a Unix signal death is the emulated Wine failing (under QEMU it now
# and then does at process exit). Run the program once more; a second such death stands.
if [ "$status" = 139 ] && [ -n "${RS_WINE_UNDER_QEMU:-}" ]; then
  echo "wine-run: Wine died by signal 11 under emulation; running the program once more" >&2
  wine "$@"
  status=$?
fi
exit $status

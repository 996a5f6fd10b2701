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
exit $?

# Sourced by the scripts that run Windows programs: one private Wine prefix for the project's
# tests, an X display that Wine sees from the moment its server starts, quiet Wine.
RS_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
: "${RS_WINE_ROOT:=${XDG_CACHE_HOME:-$HOME/.cache}/skse-plugins-wine}"
# Exported so that a nested use (CTest calling wine-run.sh) finds the same prefix although
# HOME has been changed below.
export RS_WINE_ROOT
export WINEPREFIX="${RS_WINEPREFIX:-$RS_WINE_ROOT/prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32
# Tests that write under the user's documents folder must not touch the real home.
export RS_WINE_HOME="$RS_WINE_ROOT/home"
mkdir -p "$RS_WINE_ROOT" "$RS_WINE_HOME"
export HOME="$RS_WINE_HOME"
# No 32-bit ELF support in some kernels: 32-bit Wine then runs under QEMU's user-mode emulator.
export QEMU_CPU="${QEMU_CPU:-max}"

# Some kernels run no 32-bit ELF programs (IA-32 emulation disabled). Then 32-bit Wine's loader
# and server run under QEMU's user-mode emulator, registered as the interpreter of i386 ELF
# files. Registration is kernel state, so it is renewed when missing.
rs_ensure_32bit_exec() {
  local misc=/proc/sys/fs/binfmt_misc
  if [ ! -e "$misc/qemu-i386" ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    return 0 # the kernel runs 32-bit programs itself
  fi
  if [ ! -e "$misc/register" ]; then
    mount -t binfmt_misc binfmt_misc "$misc"
  fi
  if [ ! -e "$misc/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >"$misc/register"
  fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || return 1
  # Without this, every Wine process spends about a minute reserving its address space.
  # The loader expands $LIB per architecture: the 32-bit Wine processes get the shim, the
  # 64-bit programs they start (shell scripts) an empty library instead of a warning.
  local shim="$RS_WINE_ROOT/lib/i386-linux-gnu/mmap_noreplace.so"
  local empty="$RS_WINE_ROOT/lib/x86_64-linux-gnu/mmap_noreplace.so"
  local source="$RS_SCRIPTS/qemu-shim/mmap_noreplace.c"
  if [ ! -f "$shim" ] || [ "$source" -nt "$shim" ]; then
    mkdir -p "$(dirname "$shim")" "$(dirname "$empty")"
    gcc -m32 -O2 -shared -fPIC -o "$shim.tmp" "$source" -ldl && mv "$shim.tmp" "$shim"
    echo 'int rs_no_shim_needed;' | gcc -x c -shared -fPIC -o "$empty" -
  fi
  export QEMU_SET_ENV="LD_PRELOAD=$RS_WINE_ROOT/\$LIB/mmap_noreplace.so"
  # Wine under QEMU 7.2 cannot start a second thread in a process (the new thread faults
  # before it runs any code of its own); tests that need threads see this and skip.
  export RS_WINE_UNDER_QEMU=1
}

rs_ensure_display() {
  if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:87
  fi
  local n="${DISPLAY#:}"
  n="${n%%.*}"
  if [ ! -e "/tmp/.X11-unix/X$n" ]; then
    (
      flock 9
      if [ ! -e "/tmp/.X11-unix/X$n" ]; then
        nohup Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        for _ in $(seq 1 100); do
          [ -e "/tmp/.X11-unix/X$n" ] && break
          sleep 0.1
        done
      fi
    ) 9>"$RS_WINE_ROOT/xvfb.lock"
  fi
}

rs_ensure_prefix() {
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    (
      flock 9
      if [ ! -f "$WINEPREFIX/.ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        # A crashing test program must end, not wait in Wine's debugger.
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
          /v Debugger /t REG_SZ /d false /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
          /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.ready"
      fi
    ) 9>"$RS_WINE_ROOT/prefix.lock"
  fi
}

# Keeps one Wine server running between test programs: every new server session also starts
# Wine's boot programs again, which under emulation costs seconds per test.
rs_keep_server() {
  if wineserver -p 300 </dev/null >/dev/null 2>&1; then
    # A new session: Wine's service processes start with its first program and live as long as
    # the server. Start them here, detached from the caller's output, so that they do not keep
    # the output pipe of whichever test happens to come first open (CTest waits for it).
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  fi
}

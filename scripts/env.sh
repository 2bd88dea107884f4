# Environment shared by the scripts (sourced, not run).
export WINEPREFIX="${PARLEX_WINEPREFIX:-$HOME/.wine-parlex}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Gecko or Mono installer dialogs, ever: Wine then has no HTML engine and
# the browser control is created but shows no page.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Qt WebEngine refuses to start as root with its sandbox on, and Xvfb has no GPU.
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --no-sandbox}"
export LIBGL_ALWAYS_SOFTWARE=1

# Whether this machine runs 32-bit x86 programs itself, as Wine's 32-bit
# loader needs. Some machines' kernels refuse them ("Exec format error"); an
# emulator registered for them (qemu-user) runs Wine far too slowly for the
# win32 suite, so it does not count.
parlex_runs_i386() {
  [ -x /lib/ld-linux.so.2 ] || return 1
  if [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    return 1
  fi
  timeout 10 /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

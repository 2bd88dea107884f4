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

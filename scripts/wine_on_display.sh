#!/usr/bin/env bash
# Runs a Windows program under Wine on a display of its own (Xvfb through xvfb-run), as the
# window's tests and the window session need it: drawn by Qt's Windows platform plugin, as on a
# technician's PC. Wine's desktop process belongs to the Wine server and keeps the display it
# was started on, so the server is ended before (it may hold another display, or none) and after
# (its display is gone). Nothing else may use the Wine prefix meanwhile.
#
#   scripts/wine_on_display.sh program.exe [argument...]
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${VELTRIX_MINGW_PREFIX:-/opt/veltrix-mingw64}/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
end_wine() {
    wineserver -k 2> /dev/null || true
    wineserver -w 2> /dev/null || true
}
end_wine
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@" || status=$?
end_wine
exit "$status"

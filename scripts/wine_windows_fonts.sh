#!/usr/bin/env bash
# Stands in for the fonts of a Windows PC in a Wine prefix made on Debian. Neither Tahoma (the
# dialog font Wine names) nor Arial is installed here, and Qt would fall back to the first family
# it finds, a math font whose line metrics put a line edit's text outside its box. Wine replaces
# both with NanumGothic (fonts-nanum), which draws Latin and Hangul.
#
#   WINEPREFIX=<prefix> scripts/wine_windows_fonts.sh
set -euo pipefail
export WINEDEBUG=-all
for family in Tahoma Arial; do
    DISPLAY= wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$family" /d NanumGothic \
        /f > /dev/null 2>&1
done
wineserver -w

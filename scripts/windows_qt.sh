#!/usr/bin/env bash
# Qt for Windows, for veltrix.exe: built from Debian's own qt6-base source package (the version
# of the host's Qt tools, whose moc, uic and rcc the cross-build uses) with the MinGW-w64
# compilers, as shared DLLs into $prefix/qt6. Only what the window uses: Core, Gui, Widgets,
# Test (its tests), the Windows platform plugin and the Windows styles, with the bundled zlib,
# PCRE2, libpng and HarfBuzz. Built once per machine; a stamp naming the source version keeps
# it until that version changes; a build cut short resumes where it stopped.
#
#   scripts/windows_qt.sh <prefix>      (called by scripts/windows_setup.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

prefix="$1"
qt_prefix="$prefix/qt6"
stamp="$prefix/.built-qt6"
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
# Bump when the options below change, so the cached build is made again.
recipe=1
stamp_text="qt6-base $version, recipe $recipe"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ]; then
    exit 0
fi

echo "Building Qt $version for Windows from Debian's qt6-base source (once per machine)"
start=$(date +%s)
# Kept until the build has been installed, so a build that failed or was cut short goes on.
work="$prefix/qt6-work/$version"
mkdir -p "$work"
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base*' | head -n 1)
if [ -z "$src" ]; then
    # Unpacked aside and moved in whole: a source cut short is never taken for the source.
    rm -rf "$work/fetch"
    mkdir -p "$work/fetch"
    (cd "$work/fetch" && apt-get source -qq "qt6-base=$version" > source.log 2>&1) ||
        { cat "$work/fetch/source.log" >&2; echo "apt-get source qt6-base=$version failed" >&2; exit 1; }
    mv "$(find "$work/fetch" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base*' | head -n 1)" "$work/"
    rm -rf "$work/fetch"
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base*' | head -n 1)
fi

# Qt's DLLs use the MinGW runtime DLLs (libstdc++, libgcc, winpthread), shipped beside them.
cat > "$work/toolchain.cmake" << EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Debian's source has no wintab.h (tablet events off); with OpenGL off the platform plugin must
# not reach for the dynamic-GL context either; the DirectWrite font engine is built only with
# Direct2D, so text is drawn through GDI, Qt's default font engine on Windows. The rest is what
# the window never uses.
off=(
    opengl dynamicgl vulkan tabletevent dbus sql network printsupport concurrent xml icu zstd
    jpeg gif ico freetype fontconfig direct2d directwrite directwrite3 textmarkdownreader
    textmarkdownwriter
    system_zlib system_pcre2 system_png system_harfbuzz system_freetype system_jpeg
    system_doubleconversion system_libb2
)
features=()
for f in "${off[@]}"; do
    features+=("-DFEATURE_$f=OFF")
done

cmake -S "$src" -B "$work/build" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$qt_prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DINPUT_opengl=no \
    "${features[@]}" > "$work/configure.log" 2>&1 ||
    { tail -n 40 "$work/configure.log" >&2; echo "configuring Qt for Windows failed" >&2; exit 1; }
configured=$(date +%s)
steps=$(ninja -C "$work/build" -n | grep -c '^\[' || true)
# Qt's headers warn at length about dllimport under MinGW: the failures are what to show.
cmake --build "$work/build" -j "$(nproc)" -- -k 0 > "$work/build.log" 2>&1 || {
    grep -E -A 6 '^FAILED|error:' "$work/build.log" | head -n 60 >&2
    echo "building Qt for Windows failed (the whole log: $work/build.log)" >&2
    exit 1
}
rm -rf "$qt_prefix"
cmake --install "$work/build" > /dev/null
# The licence notices that travel with the DLLs.
notices="$prefix/share/veltrix-notices"
mkdir -p "$notices"
for f in "$src"/LICENSE.* "$src"/LICENSES/*; do
    [ -f "$f" ] && cp "$f" "$notices/qt6-$(basename "$f" .txt).txt"
done
cp "$src/debian/copyright" "$notices/qt6-base-copyright.txt"
end=$(date +%s)
echo "Qt for Windows: configure $((configured - start)) s, $steps build steps in" \
    "$((end - configured)) s, $(du -sm "$qt_prefix" | cut -f1) MB in $qt_prefix"
echo "$stamp_text" > "$stamp"
rm -rf "$prefix/qt6-work"

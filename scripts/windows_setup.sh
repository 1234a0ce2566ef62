#!/usr/bin/env bash
# What the Windows pass needs, from Debian packages: the MinGW-w64 cross compiler (POSIX thread
# model) and Wine, then Windows builds of Qt (scripts/windows_qt.sh), tinyxml2 and CLI11 from their Debian source packages
# and of GoogleTest from the sources the googletest package ships, installed into one prefix
# ($VELTRIX_MINGW_PREFIX, default /opt/veltrix-mingw64) with a Wine prefix beside them.
# Idempotent: what is already built (a stamp per part) is kept, so a second run takes a second.
# Run as root (or with sudo available).
set -euo pipefail
cd "$(dirname "$0")/.."

prefix="${VELTRIX_MINGW_PREFIX:-/opt/veltrix-mingw64}"
toolchain="$PWD/cmake/mingw-w64-x86_64.cmake"
notices="$prefix/share/veltrix-notices"
# Bump when a recipe below changes, so cached builds are made again.
recipe=1

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

packages=(g++-mingw-w64-x86-64-posix wine wine64 googletest dpkg-dev cmake ninja-build pkg-config
    qt6-base-dev fonts-nanum xvfb xauth imagemagick x11-utils unzip)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# apt-get source needs a deb-src line; one is added beside the deb lines when there is none.
ensure_source_lines() {
    if grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local deb822=/etc/apt/sources.list.d/debian.sources
    if [ -f "$deb822" ]; then
        sed 's/^Types: deb$/Types: deb-src/' "$deb822" |
            $sudo tee /etc/apt/sources.list.d/veltrix-deb-src.sources > /dev/null
    else
        grep -hE '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            $sudo tee /etc/apt/sources.list.d/veltrix-deb-src.list > /dev/null
    fi
    $sudo apt-get update -qq
}

compiler_version=$(x86_64-w64-mingw32-g++-posix -dumpversion)
stamp_of() { echo "$prefix/.built-$1"; }
stamp_text() { echo "recipe $recipe, g++ $compiler_version"; }
is_built() { [ -f "$(stamp_of "$1")" ] && [ "$(cat "$(stamp_of "$1")")" = "$(stamp_text)" ]; }
mark_built() { stamp_text > "$(stamp_of "$1")"; }

# cmake_install <source dir> <build dir> <cmake args...>: a static Release build into the prefix.
cmake_install() {
    local src="$1" build="$2"
    shift 2
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DVELTRIX_MINGW_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" > /dev/null
    cmake --build "$build" -j 2 > /dev/null
    cmake --install "$build" > /dev/null
}

# from_debian_source <source package> <licence file> <cmake args...>
from_debian_source() {
    local package="$1" licence="$2"
    shift 2
    if is_built "$package"; then
        return
    fi
    echo "Building $package for Windows from its Debian source package"
    ensure_source_lines
    local work
    work=$(mktemp -d)
    (cd "$work" && apt-get source -qq "$package" > /dev/null 2>&1) ||
        { echo "apt-get source $package failed" >&2; exit 1; }
    local src
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    cmake_install "$src" "$work/build" "$@"
    mkdir -p "$notices"
    cp "$src/$licence" "$notices/$package.txt"
    rm -rf "$work"
    mark_built "$package"
}

mkdir -p "$prefix"
from_debian_source tinyxml2 LICENSE.txt -Dtinyxml2_BUILD_TESTING=OFF -DBUILD_TESTING=OFF
from_debian_source cli11 LICENSE -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF \
    -DCLI11_BUILD_DOCS=OFF

if ! is_built googletest; then
    echo "Building GoogleTest for Windows from /usr/src/googletest"
    work=$(mktemp -d)
    cmake_install /usr/src/googletest "$work" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    rm -rf "$work"
    mark_built googletest
fi

# Qt for Windows (the window, veltrix.exe): its own script, the longest build here.
ensure_source_lines
scripts/windows_qt.sh "$prefix"

# The runtime that -static links into the program: mingw-w64 (with winpthreads) and GCC's
# libstdc++ and libgcc under the GCC Runtime Library Exception.
if ! is_built notices; then
    mkdir -p "$notices"
    cp /usr/share/doc/mingw-w64-common/copyright "$notices/mingw-w64.txt"
    cp /usr/share/doc/gcc-mingw-w64-base/copyright "$notices/gcc-runtime.txt"
    mark_built notices
fi

# A Wine prefix of its own, made once (no Mono or Gecko: the programs need neither), with fonts
# standing in for those of a Windows PC.
export WINEPREFIX="$prefix/wine"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX"
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= wineboot -i > /dev/null 2>&1
    wineserver -w
fi
if [ ! -f "$WINEPREFIX/.veltrix-fonts" ]; then
    scripts/wine_windows_fonts.sh
    touch "$WINEPREFIX/.veltrix-fonts"
fi
echo "Windows dependencies in $prefix (Wine prefix $WINEPREFIX)"

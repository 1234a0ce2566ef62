# Cross-building veltrix-cli.exe for 64-bit Windows with Debian's MinGW-w64 (POSIX thread model),
# the C and C++ runtimes linked in statically, so the program needs only the DLLs Windows itself
# ships. Wine runs what the build runs (try_run, tests).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The Windows builds of tinyxml2, CLI11, GoogleTest and Qt come from scripts/windows_setup.sh, in
# VELTRIX_MINGW_PREFIX (default /opt/veltrix-mingw64; Qt in its qt6 folder).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTRIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTRIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRIX_MINGW_TRIPLE}-windres)

if(NOT VELTRIX_MINGW_PREFIX)
    if(DEFINED ENV{VELTRIX_MINGW_PREFIX})
        set(VELTRIX_MINGW_PREFIX $ENV{VELTRIX_MINGW_PREFIX})
    else()
        set(VELTRIX_MINGW_PREFIX /opt/veltrix-mingw64)
    endif()
endif()
set(VELTRIX_MINGW_PREFIX ${VELTRIX_MINGW_PREFIX} CACHE PATH "Windows builds of the dependencies")
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELTRIX_MINGW_PREFIX)

# Headers, libraries and CMake packages from the MinGW sysroot and the dependency prefix only;
# programs (pkg-config, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELTRIX_MINGW_TRIPLE} ${VELTRIX_MINGW_PREFIX}
    ${VELTRIX_MINGW_PREFIX}/qt6)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt for Windows was built against the build machine's Qt tools (moc, uic, rcc), of the same
# version: the window's build runs those.
set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt tools are")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Their CMake packages")

# pkg-config answers for the Windows libraries, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${VELTRIX_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# No libstdc++, libgcc or winpthread DLLs beside the program (Qt's own DLLs use them: the window
# ships them beside its DLLs).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(VELTRIX_WINE NAMES wine wine64)
if(VELTRIX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTRIX_WINE})
endif()

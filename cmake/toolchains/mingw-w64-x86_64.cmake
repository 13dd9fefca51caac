# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix). The posix thread model gives std::thread and
# std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELLORAN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELLORAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLORAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLORAN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLORAN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes and winpthread linked in,
# so that it runs on a bare Windows, or under Wine, without extra DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Windows programs built here run on Linux through Wine: tests and tools.
find_program(PELLORAN_WINE wine)
if(PELLORAN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLORAN_WINE})
endif()

# Qt, libpng and libimagequant for Windows are built from Debian's sources by
# scripts/build-qt-windows into a folder of their own, named here; the Qt
# tools (moc, rcc, uic) are the host's, of the same version.
set(PELLORAN_WINDOWS_DEPS "" CACHE PATH "What scripts/build-qt-windows built (scripts/build-qt-windows --prefix)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PELLORAN_WINDOWS_DEPS)
if(PELLORAN_WINDOWS_DEPS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${PELLORAN_WINDOWS_DEPS})
    set(QT_HOST_PATH /usr)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
    set(ENV{PKG_CONFIG_LIBDIR} ${PELLORAN_WINDOWS_DEPS}/lib/pkgconfig)
endif()

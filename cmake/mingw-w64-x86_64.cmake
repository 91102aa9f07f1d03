# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix thread model), e.g.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Every executable and the DLL carry the C and C++ runtimes (libgcc, libstdc++, winpthread)
# statically, so they need nothing beyond the system DLLs of Windows (or wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RIDGELINE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RIDGELINE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RIDGELINE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RIDGELINE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${RIDGELINE_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${RIDGELINE_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${RIDGELINE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test executables built here run under wine on the build machine.
find_program(RIDGELINE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(RIDGELINE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RIDGELINE_WINE})
endif()

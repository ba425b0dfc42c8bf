# Cross build for 32-bit x86 Windows with mingw-w64. Test programs run under
# Wine through scripts/wine-run.
#
# Debian ships the compilers in two thread models. The posix one, the default
# here, is what GoogleTest needs; its runtime brings winpthreads. The launcher
# stub is built with the win32 one (mingw-i686-win32.cmake), whose runtime
# makes its few thread calls to Windows directly and links no winpthreads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

if(NOT KESMAR_MINGW_THREADS)
  set(KESMAR_MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${KESMAR_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${KESMAR_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static runtime: the exe needs no DLL beyond those Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)

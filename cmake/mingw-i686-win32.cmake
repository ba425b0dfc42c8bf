# The launcher stub's cross build: mingw-w64 in the win32 thread model, so that
# no winpthreads is linked into what every installer carries.
set(KESMAR_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

# The LZMA SDK's encoder and decoder, compiled from the C sources that Debian's
# lzma-dev installs. Only payload/ links against it. The host tools' encoder
# runs its match finder on a second thread; lzma-dev has no such finder, so
# ours (payload/lzma_mt/, with the LzFindMt.h the encoder includes) stands in.
# The launcher stub's encoder, which only serves "-c", stays single-threaded.
set(LZMA_SDK_DIR /usr/include/lzma CACHE PATH "Folder holding the LZMA SDK C sources")

foreach(source LzFind.c LzmaEnc.c LzmaDec.c)
  if(NOT EXISTS "${LZMA_SDK_DIR}/${source}")
    message(FATAL_ERROR "${LZMA_SDK_DIR}/${source} is missing: run scripts/install-deps.sh (package lzma-dev)")
  endif()
endforeach()

add_library(lzma_sdk STATIC
  ${LZMA_SDK_DIR}/LzFind.c
  ${LZMA_SDK_DIR}/LzmaEnc.c
  ${LZMA_SDK_DIR}/LzmaDec.c)
if(KESMAR_STUB_ONLY)
  target_compile_definitions(lzma_sdk PUBLIC _7ZIP_ST)
else()
  target_include_directories(lzma_sdk PRIVATE ${LZMA_SDK_DIR} ${PROJECT_SOURCE_DIR}/payload/lzma_mt)
  # payload/CMakeLists.txt makes it; it takes the finder and tables from here.
  target_link_libraries(lzma_sdk PUBLIC lzma_mt)
endif()
# The SDK's headers sit beside xz-utils' own in that folder, so the path is
# handed only to the SDK and to the one wrapper that includes it.
target_include_directories(lzma_sdk INTERFACE ${LZMA_SDK_DIR})
target_compile_options(lzma_sdk PRIVATE -O2 -w)
if(KESMAR_STUB_ONLY)
  # In the launcher the encoder only serves "-c", which packs a folder once;
  # it is built for size there. The decoder, on every launcher's path, keeps -O2.
  set_source_files_properties(${LZMA_SDK_DIR}/LzFind.c ${LZMA_SDK_DIR}/LzmaEnc.c
    PROPERTIES COMPILE_OPTIONS -Os)
endif()
set_target_properties(lzma_sdk PROPERTIES POSITION_INDEPENDENT_CODE ON)

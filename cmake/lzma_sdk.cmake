# The LZMA SDK's encoder and decoder, compiled single-threaded from the C sources
# that Debian's lzma-dev installs. Only payload/ links against it.
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
target_compile_definitions(lzma_sdk PUBLIC _7ZIP_ST)
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

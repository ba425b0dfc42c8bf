# Launcher executables: kesmar_add_launcher() links one with a given payload,
# kesmar_pack_folder() makes a payload from a folder with the host packer.

set(KESMAR_HOST_PACK "${PROJECT_SOURCE_DIR}/build/host/kesmar-pack" CACHE FILEPATH
  "The host build's kesmar-pack, used to pack payloads for the Windows build")

# kesmar_add_launcher(<target> <payload file> [OUTPUT_NAME <name>] [DEPENDS <targets>...])
function(kesmar_add_launcher target payload_file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "OUTPUT_NAME" "DEPENDS")
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/launcher/main.cpp
    ${PROJECT_SOURCE_DIR}/launcher/lean_runtime.cpp)
  target_compile_options(${target} PRIVATE ${KESMAR_WARNINGS})
  # Stripped at the link; large-address-aware, so that on 64-bit Windows a
  # payload of well over 1 GiB decodes in one block; ASLR and DEP on.
  target_link_options(${target} PRIVATE -municode -mwindows -s -Wl,--gc-sections
    -Wl,--large-address-aware -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(${target} PRIVATE launcher_win32)
  if(arg_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${arg_OUTPUT_NAME})
  endif()
  kesmar_add_launcher_resources(${target} "${payload_file}" DEPENDS ${arg_DEPENDS})
endfunction()

# kesmar_pack_folder(<target> <work dir> DEPENDS <files>... [AFTER <targets>...]):
# runs the host packer in <work dir>, which holds "finst", making
# <work dir>/datakes.lzma. Name the targets that make those files after AFTER
# when they come from another directory.
function(kesmar_pack_folder target work_dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "DEPENDS;AFTER")
  add_custom_command(
    OUTPUT ${work_dir}/datakes.lzma
    COMMAND ${KESMAR_HOST_PACK}
    WORKING_DIRECTORY ${work_dir}
    DEPENDS ${arg_DEPENDS} ${KESMAR_HOST_PACK}
    COMMENT "Packing ${work_dir}/finst"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${work_dir}/datakes.lzma)
  if(arg_AFTER)
    add_dependencies(${target} ${arg_AFTER})
  endif()
endfunction()

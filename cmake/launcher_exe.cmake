# Launcher executables. kesmar_add_launcher_stub() links the stub: the
# launcher with every resource but its payload. kesmar_add_launcher() makes a
# launcher from the stub and a payload with the host kesmar-pack, the one way
# a launcher is made, here as in make launcher and for anybody with the tool.

set(KESMAR_HOST_PACK "${PROJECT_SOURCE_DIR}/build/host/kesmar-pack" CACHE FILEPATH
  "The host build's kesmar-pack, used to pack payloads and write launchers for the Windows build")

# kesmar_add_launcher_stub(<target>)
function(kesmar_add_launcher_stub target)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/launcher/main.cpp
    ${PROJECT_SOURCE_DIR}/launcher/lean_runtime.cpp)
  target_compile_options(${target} PRIVATE ${KESMAR_WARNINGS})
  # Stripped at the link; large-address-aware, so that on 64-bit Windows a
  # payload of well over 1 GiB decodes in one block; ASLR and DEP on.
  target_link_options(${target} PRIVATE -municode -mwindows -s -Wl,--gc-sections
    -Wl,--large-address-aware -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(${target} PRIVATE launcher_win32)
  kesmar_add_launcher_resources(${target})
endfunction()

# kesmar_add_launcher(<target> <payload file> OUTPUT <exe> [FORCE] [DEPENDS <targets>...])
# writes <payload file> into the stub KesmarSetupWin-stub as <exe>. FORCE
# embeds a payload that does not verify (the tests' damaged ones). The
# target's properties KESMAR_LAUNCHER_FILE and KESMAR_PAYLOAD_FILE name both.
function(kesmar_add_launcher target payload_file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "FORCE" "OUTPUT" "DEPENDS")
  get_filename_component(payload_file "${payload_file}" ABSOLUTE)
  set(force)
  if(arg_FORCE)
    set(force --force)
  endif()
  add_custom_command(
    OUTPUT ${arg_OUTPUT}
    COMMAND ${KESMAR_HOST_PACK} launcher --payload ${payload_file} --stub $<TARGET_FILE:KesmarSetupWin-stub>
            -o ${arg_OUTPUT} ${force}
    DEPENDS ${payload_file} KesmarSetupWin-stub ${KESMAR_HOST_PACK}
    COMMENT "Writing ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${arg_OUTPUT})
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
  set_target_properties(${target} PROPERTIES KESMAR_LAUNCHER_FILE ${arg_OUTPUT}
    KESMAR_PAYLOAD_FILE ${payload_file})
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

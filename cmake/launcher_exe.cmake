# Launcher executables. The stub is the launcher with every resource but its
# payload; the test programs' tree builds it in a tree of its own (below), with
# the win32-thread-model compilers. kesmar_add_launcher() makes a launcher from
# the stub and a payload with the host kesmar-pack, the one way a launcher is
# made, here as in make launcher and for anybody with the tool.

set(KESMAR_HOST_PACK "${PROJECT_SOURCE_DIR}/build/host/kesmar-pack" CACHE FILEPATH
  "The host build's kesmar-pack, used to pack payloads and write launchers for the Windows build")

if(KESMAR_STUB_ONLY)
  # The tree that builds the stub puts it into the tree that asked for it.
  set(KESMAR_STUB_DIR "${PROJECT_BINARY_DIR}" CACHE PATH "Where the stub and its link map go")
else()
  set(KESMAR_STUB_DIR "${PROJECT_BINARY_DIR}")
endif()
# The stub, and the linker's map of what went into it, which the tests read.
set(KESMAR_STUB_FILE ${KESMAR_STUB_DIR}/KesmarSetupWin-stub.exe)
set(KESMAR_STUB_MAP ${KESMAR_STUB_DIR}/KesmarSetupWin-stub.map)

# kesmar_add_launcher_stub(<target>), in the stub's own tree: links the stub.
function(kesmar_add_launcher_stub target)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/launcher/main.cpp
    ${PROJECT_SOURCE_DIR}/launcher/lean_runtime.cpp)
  target_compile_options(${target} PRIVATE ${KESMAR_WARNINGS})
  # Stripped at the link; large-address-aware, so that on 64-bit Windows a
  # payload of well over 1 GiB decodes in one block; ASLR and DEP on. The map
  # does not change the exe.
  target_link_options(${target} PRIVATE -municode -mwindows -s -Wl,--gc-sections
    -Wl,--large-address-aware -Wl,--dynamicbase -Wl,--nxcompat -Wl,-Map=${KESMAR_STUB_MAP})
  target_link_libraries(${target} PRIVATE launcher_win32)
  kesmar_add_launcher_resources(${target})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KESMAR_STUB_DIR})
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${KESMAR_STUB_MAP})
endfunction()

# kesmar_add_stub_build(<target>): the target that builds the stub in
# <build>/stub, a tree of its own configured by cmake/mingw-i686-win32.cmake.
# The launcher's libraries are compiled there a second time; the test programs
# here link the first, posix-thread-model ones. The sub-build runs on every
# build and does only what is out of date.
function(kesmar_add_stub_build target)
  include(ExternalProject)
  set(flags)
  foreach(lang C CXX)
    string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
    list(APPEND flags "-DCMAKE_${lang}_FLAGS:STRING=${CMAKE_${lang}_FLAGS}")
    if(config)
      list(APPEND flags "-DCMAKE_${lang}_FLAGS_${config}:STRING=${CMAKE_${lang}_FLAGS_${config}}")
    endif()
  endforeach()
  ExternalProject_Add(${target}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/stub
    CMAKE_CACHE_ARGS
      -DCMAKE_TOOLCHAIN_FILE:FILEPATH=${PROJECT_SOURCE_DIR}/cmake/mingw-i686-win32.cmake
      -DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}
      ${flags}
      -DKESMAR_STUB_ONLY:BOOL=ON
      -DKESMAR_BUILD_TESTS:BOOL=OFF
      -DKESMAR_STUB_DIR:PATH=${KESMAR_STUB_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${KESMAR_STUB_FILE} ${KESMAR_STUB_MAP})
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
    COMMAND ${KESMAR_HOST_PACK} launcher --payload ${payload_file} --stub ${KESMAR_STUB_FILE}
            -o ${arg_OUTPUT} ${force}
    DEPENDS ${payload_file} KesmarSetupWin-stub ${KESMAR_STUB_FILE} ${KESMAR_HOST_PACK}
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

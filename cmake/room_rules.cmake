# What each folder may not include, checked on every build (target
# room_rules, part of all) in which one of its files changed. ARCHITECTURE.md
# says why each rule holds.
#   kesmar_room_rule(<folder> FORBID <header path prefix>...)
# fails the build when a file under <folder> (subfolders too) includes a
# header whose path, as written in its #include, begins with one of the
# prefixes.
set(_kesmar_room_stamps)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/room_rules)
function(kesmar_room_rule folder)
  cmake_parse_arguments(PARSE_ARGV 1 rule "" "" "FORBID")
  file(GLOB_RECURSE room_files CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp ${PROJECT_SOURCE_DIR}/${folder}/*.c)
  string(MAKE_C_IDENTIFIER ${folder} stamp)
  set(stamp ${PROJECT_BINARY_DIR}/room_rules/${stamp}.checked)
  string(JOIN "|" forbidden ${rule_FORBID})
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DROOM=${folder} -DFORBID=${forbidden}
            -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_room_includes.cmake
    DEPENDS ${room_files} ${PROJECT_SOURCE_DIR}/cmake/check_room_includes.cmake
    COMMENT "Checking what ${folder}/ includes"
    VERBATIM)
  set(_kesmar_room_stamps ${_kesmar_room_stamps} ${stamp} PARENT_SCOPE)
endfunction()

# The portable core: the formats know no files, the builder no launcher,
# and none of them Windows but through platform/. The encoder's second
# thread is the one thing of platform/ that payload/ uses.
kesmar_room_rule(payload FORBID windows.h builder/ launcher/ pe/ kesmar_pack/ platform/win32/ platform/posix/
  platform/ansi_code_page.h platform/file_system.h platform/fonts.h platform/host_ platform/interrupts.h
  platform/ntfs_ platform/platform.h platform/processes.h platform/resources.h platform/security.h
  platform/stdio_file.h platform/unique_file platform/window.h)
kesmar_room_rule(builder FORBID windows.h launcher/ pe/ kesmar_pack/)
kesmar_room_rule(pe FORBID windows.h payload/ platform/ builder/ launcher/ kesmar_pack/)
kesmar_room_rule(platform FORBID payload/ builder/ launcher/ pe/ kesmar_pack/)
kesmar_room_rule(platform/posix FORBID windows.h)
# The launcher reaches Windows only through platform/, and needs no PE reader.
kesmar_room_rule(launcher FORBID windows.h pe/ kesmar_pack/)

# kesmar-pack: the command line knows try and the commands; try knows the
# commands; the commands know neither.
kesmar_room_rule(kesmar_pack/commands FORBID windows.h kesmar_pack/cli/ kesmar_pack/try/)
kesmar_room_rule(kesmar_pack/try FORBID kesmar_pack/cli/)
# Inside try, the parts know nothing of the run that uses them.
kesmar_room_rule(kesmar_pack/try/wine
  FORBID kesmar_pack/commands/ kesmar_pack/try/report/ kesmar_pack/try/screen/ kesmar_pack/try/watcher/
         kesmar_pack/try/try_ kesmar_pack/try/temp_watch.h)
kesmar_room_rule(kesmar_pack/try/report
  FORBID kesmar_pack/try/screen/ kesmar_pack/try/watcher/ kesmar_pack/try/child_process.h
         kesmar_pack/try/file_tree.h kesmar_pack/try/try_ kesmar_pack/try/temp_watch.h)
kesmar_room_rule(kesmar_pack/try/screen
  FORBID kesmar_pack/commands/ kesmar_pack/try/wine/ kesmar_pack/try/report/ kesmar_pack/try/watcher/
         kesmar_pack/try/try_ kesmar_pack/try/temp_watch.h)

add_custom_target(room_rules ALL DEPENDS ${_kesmar_room_stamps})

# Run by cpack between the staging install and the packing (CPACK_PRE_BUILD_SCRIPTS),
# so that two builds of the same tree give the same .deb, byte for byte.
#
# Dates: SOURCE_DATE_EPOCH, which the DEB generator uses for every file, the
# control files and the archive members, is the last commit's. A date already
# in the environment is kept; sources without their git history take the
# date of the changelog's entry, as Debian's own package builds do.
#
# Folders: 0755 whatever the umask. The install gives files their modes, but
# the folders it creates take the umask: with 077 they came out 0700 and made
# the stub unreadable to anybody but root. The one thing the umask still
# decides is the mode in the headers of the .deb's three archive members,
# which dpkg ignores; make package runs cpack with 022.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_KESMAR_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT epoch MATCHES "^[0-9]+$")
    file(STRINGS "${CPACK_KESMAR_CHANGELOG}" trailer REGEX "^ -- .*>  ")
    string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
    execute_process(COMMAND date -u -d "${date}" +%s
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "No date for the package: ${CPACK_KESMAR_SOURCE_DIR} has no git history "
      "and ${CPACK_KESMAR_CHANGELOG} no dated entry; set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()

file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()

execute_process(COMMAND sh -c umask OUTPUT_VARIABLE umask OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT umask MATCHES "^0*22$")
  message(WARNING "umask ${umask}: the .deb's archive members take their modes from it, so this "
    "package matches byte for byte only packages built with the same umask (make package uses 022)")
endif()

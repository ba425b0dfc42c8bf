# No path of the build machine in what we build, wherever the tree lies: our
# sources and the build tree are named relative to themselves, and the
# compiler's own headers by the name they are included under
# ("bits/stl_vector.h"), which is what the C++ library's assertion messages
# quote through __FILE__. The host programs' debug information, and with it
# their build IDs, then no longer depend on the folders either.
set(_kesmar_include_dirs ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
list(REMOVE_DUPLICATES _kesmar_include_dirs)
# The last option that matches wins, so a folder comes before those inside it.
list(SORT _kesmar_include_dirs)
set(_kesmar_maps)
foreach(dir IN LISTS _kesmar_include_dirs)
  list(APPEND _kesmar_maps -fmacro-prefix-map=${dir}/=)
endforeach()
# The build tree may lie inside the sources: it comes last.
list(APPEND _kesmar_maps -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                         -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
foreach(map IN LISTS _kesmar_maps)
  # windres takes none of them.
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:${map}>)
endforeach()

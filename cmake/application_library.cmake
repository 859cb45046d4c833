# onefile_add_application_library(<target> DIRECTORY <dir> SOURCES <sources>...)
#   A DLL that goes into an application folder (the demo's, the tests', the
#   benchmark's): named <target>.dll in <dir>, its import library in <dir>/lib,
#   the toolchain's runtime linked in statically so the folder needs no other
#   DLL beside it, and no link time stamp, so the same sources give the same
#   payload.
function(onefile_add_application_library target)
  cmake_parse_arguments(A "" "DIRECTORY" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${A_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${A_DIRECTORY}
    ARCHIVE_OUTPUT_DIRECTORY ${A_DIRECTORY}/lib)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s -Wl,--no-insert-timestamp)
endfunction()

# The launcher kit and the rule that turns an application folder into a
# launcher .exe (Windows tree only).
#
# The kit is everything onefile-build needs besides itself, copied into
# ${ONEFILE_DIST_DIR}/kit by the target onefile_kit:
#   libonefile_launcher.a libonefile_paths.a libonefile_platform.a
#   libonefile_runtime.a libzstd_decompress.a   prebuilt image code
#   link-flags.txt      one driver argument per line (ONEFILE_IMAGE_LINK_FLAGS)
#   link-libraries.txt  one library per line (ONEFILE_IMAGE_LINK_LIBRARIES)
#   toolchain.txt       "cxx=<C++ driver>" and "windres=<resource compiler>"
#   app.ico             the default icon (six PNG images, 16 to 256)
# onefile-build itself is built by the host tree into ${ONEFILE_DIST_DIR}/bin,
# so the host tree must be built before any launcher is made here.
#
# onefile_add_launcher(<target> OUTPUT <path.exe> APP_DIR <dir>
#                      [DEPENDS <targets or files>...] [ARGS <onefile-build args>...])
#   Runs onefile-build --kit <kit> --app-dir <dir> --output <path.exe> <ARGS>
#   whenever the kit, onefile-build or a DEPENDS entry changes (files inside
#   APP_DIR count only through DEPENDS, e.g. a stamp of the step that fills
#   it); <target> is a custom target in ALL that stands for the .exe.
#
# Folders that make launchers may include this file themselves before the top
# level does: every inclusion sets the variables in its own scope, and the
# function and the kit target are defined once for all.

set(ONEFILE_KIT_DIR "${ONEFILE_DIST_DIR}/kit")
set(ONEFILE_BUILD_PROGRAM "${ONEFILE_DIST_DIR}/bin/onefile-build")
set(ONEFILE_KIT_LIBRARY_TARGETS
  onefile_launcher onefile_paths onefile_platform onefile_runtime zstd_decompress)

# The files of the kit, as onefile-build looks for them (fixed names).
function(onefile_kit_files out)
  set(kit "${ONEFILE_DIST_DIR}/kit")
  set(files "${kit}/link-flags.txt" "${kit}/link-libraries.txt" "${kit}/toolchain.txt" "${kit}/app.ico")
  foreach(library onefile_launcher onefile_paths onefile_platform onefile_runtime zstd_decompress)
    list(APPEND files "${kit}/lib${library}.a")
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(onefile_add_launcher target)
  cmake_parse_arguments(L "" "OUTPUT;APP_DIR" "DEPENDS;ARGS" ${ARGN})
  if(NOT L_OUTPUT OR NOT L_APP_DIR)
    message(FATAL_ERROR "onefile_add_launcher(${target}): OUTPUT and APP_DIR are required")
  endif()
  onefile_kit_files(kit_files)
  # A target name in DEPENDS orders the build, and for a library or an
  # executable also makes the .exe stale when its file changes.
  add_custom_command(OUTPUT "${L_OUTPUT}"
    COMMAND "${ONEFILE_DIST_DIR}/bin/onefile-build" --kit "${ONEFILE_DIST_DIR}/kit"
            --app-dir "${L_APP_DIR}" --output "${L_OUTPUT}" ${L_ARGS}
    DEPENDS onefile_kit ${kit_files} "${ONEFILE_DIST_DIR}/bin/onefile-build" ${L_DEPENDS}
    COMMENT "Building launcher ${L_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${L_OUTPUT}")
endfunction()

if(TARGET onefile_kit)
  return()
endif()

if(NOT EXISTS "${ONEFILE_BUILD_PROGRAM}")
  message(WARNING "kit: ${ONEFILE_BUILD_PROGRAM} does not exist yet; build the host tree "
                  "(tools/build.sh does it first) before the launchers of this tree")
endif()

# The C++ driver links; windres compiles the resources (the RC language is
# not enabled, so the toolchain file's name is resolved here).
find_program(ONEFILE_WINDRES NAMES ${CMAKE_RC_COMPILER} x86_64-w64-mingw32-windres REQUIRED)
if(NOT ONEFILE_IMAGE_LINK_FLAGS)
  message(WARNING "kit: ONEFILE_IMAGE_LINK_FLAGS is empty; launchers will not keep the image settings")
endif()
string(REPLACE ";" "\n" kit_link_flags "${ONEFILE_IMAGE_LINK_FLAGS}")
string(REPLACE ";" "\n" kit_link_libraries "${ONEFILE_IMAGE_LINK_LIBRARIES}")
file(GENERATE OUTPUT "${ONEFILE_KIT_DIR}/link-flags.txt" CONTENT "${kit_link_flags}\n")
file(GENERATE OUTPUT "${ONEFILE_KIT_DIR}/link-libraries.txt" CONTENT "${kit_link_libraries}\n")
file(GENERATE OUTPUT "${ONEFILE_KIT_DIR}/toolchain.txt"
  CONTENT "cxx=${CMAKE_CXX_COMPILER}\nwindres=${ONEFILE_WINDRES}\n")

include(${CMAKE_SOURCE_DIR}/image/default_icon/default_icon.cmake)
onefile_default_icon(onefile_kit_icon "${ONEFILE_KIT_DIR}/app.ico")

set(kit_copies "")
set(kit_libraries "")
foreach(library ${ONEFILE_KIT_LIBRARY_TARGETS})
  if(TARGET ${library})
    list(APPEND kit_copies COMMAND ${CMAKE_COMMAND} -E copy_if_different
         $<TARGET_FILE:${library}> "${ONEFILE_KIT_DIR}/lib${library}.a")
    list(APPEND kit_libraries ${library})
  else()
    message(WARNING "kit: no target ${library}; the kit will lack lib${library}.a")
  endif()
endforeach()
set(kit_library_files "")
foreach(library ${ONEFILE_KIT_LIBRARY_TARGETS})
  list(APPEND kit_library_files "${ONEFILE_KIT_DIR}/lib${library}.a")
endforeach()
# copy_if_different leaves a library's time stamp alone when its bytes did not
# change, so launchers are relinked only when the kit really changed.
add_custom_target(onefile_kit ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory "${ONEFILE_KIT_DIR}"
  ${kit_copies}
  BYPRODUCTS ${kit_library_files}
  COMMENT "Updating the launcher kit in ${ONEFILE_KIT_DIR}"
  VERBATIM)
add_dependencies(onefile_kit onefile_kit_icon ${kit_libraries})

# The image contract checked on a real launcher.
include(${CMAKE_SOURCE_DIR}/tests/image/windows.cmake)

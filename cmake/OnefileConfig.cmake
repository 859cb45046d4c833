# Package configuration of onefile, installed with onefile-build and the
# launcher kit. A project built with a mingw-w64 x86-64 toolchain writes
#
#   find_package(Onefile REQUIRED)
#   onefile_add_executable(MyApp APP_LIBRARY my_app_dll
#       [FILES <file>...] [DIRECTORIES <dir>...] [ICON <file.ico>]
#       [COMPANY <text>] [PRODUCT <text>] [VERSION <text>]
#       [OUTPUT_DIRECTORY <dir>] [OPTIONS <any other onefile-build option>...])
#
# and gets a target MyApp (in ALL) that makes MyApp.exe. Its application
# folder, staged afresh at every build, holds the application library, the
# DLLs of the project's own targets it imports ($<TARGET_RUNTIME_DLLS>), the
# FILES at the top level and each of the DIRECTORIES under its own name. The
# .exe is made again when any of these, the icon, the kit or onefile-build
# changes. The property ONEFILE_EXECUTABLE of the target names the .exe.
#
# Also defined: the imported program Onefile::onefile-build and the variables
# ONEFILE_BUILD_PROGRAM and ONEFILE_KIT_DIR.

if(CMAKE_VERSION VERSION_LESS 3.21)
  set(Onefile_FOUND FALSE)
  set(Onefile_NOT_FOUND_MESSAGE "Onefile needs CMake 3.21 or newer (for $<TARGET_RUNTIME_DLLS>)")
  return()
endif()
if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(Onefile_FOUND FALSE)
  set(Onefile_NOT_FOUND_MESSAGE "Onefile makes Windows x86-64 executables; configure with a mingw-w64 x86-64 toolchain")
  return()
endif()

get_filename_component(_onefile_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(ONEFILE_BUILD_PROGRAM "${_onefile_prefix}/bin/onefile-build")
set(ONEFILE_KIT_DIR "${_onefile_prefix}/lib/onefile/kit")
unset(_onefile_prefix)
foreach(_onefile_file "${ONEFILE_BUILD_PROGRAM}" "${ONEFILE_KIT_DIR}/toolchain.txt")
  if(NOT EXISTS "${_onefile_file}")
    set(Onefile_FOUND FALSE)
    set(Onefile_NOT_FOUND_MESSAGE "the Onefile installation lacks ${_onefile_file}")
    return()
  endif()
endforeach()
if(NOT TARGET Onefile::onefile-build)
  add_executable(Onefile::onefile-build IMPORTED)
  set_target_properties(Onefile::onefile-build PROPERTIES IMPORTED_LOCATION "${ONEFILE_BUILD_PROGRAM}")
endif()

function(onefile_add_executable name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "APP_LIBRARY;ICON;COMPANY;PRODUCT;VERSION;OUTPUT_DIRECTORY"
                        "FILES;DIRECTORIES;OPTIONS")
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "onefile_add_executable(${name}): unexpected or empty arguments: "
                        "${arg_UNPARSED_ARGUMENTS} ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT arg_APP_LIBRARY OR NOT TARGET "${arg_APP_LIBRARY}")
    message(FATAL_ERROR "onefile_add_executable(${name}): APP_LIBRARY must name a target of this project")
  endif()
  get_target_property(type "${arg_APP_LIBRARY}" TYPE)
  if(NOT type STREQUAL "SHARED_LIBRARY")
    message(FATAL_ERROR "onefile_add_executable(${name}): APP_LIBRARY ${arg_APP_LIBRARY} is a ${type}, "
                        "not a SHARED library")
  endif()

  set(output_dir "${arg_OUTPUT_DIRECTORY}")
  if(NOT output_dir)
    set(output_dir "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  endif()
  if(NOT output_dir)
    set(output_dir "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  set(output "${output_dir}/${name}.exe")
  set(stage "${CMAKE_CURRENT_BINARY_DIR}/${name}.onefile")
  set(library "${arg_APP_LIBRARY}")

  # Everything the staged folder is made of; a change to any makes the .exe
  # again. The folders are listed at configure time and checked again at
  # every build, so added and removed files count too.
  set(inputs "")
  set(copies "")
  foreach(file IN LISTS arg_FILES)
    get_filename_component(file "${file}" ABSOLUTE)
    list(APPEND inputs "${file}")
    list(APPEND copies COMMAND "${CMAKE_COMMAND}" -E copy "${file}" "${stage}/")
  endforeach()
  foreach(dir IN LISTS arg_DIRECTORIES)
    get_filename_component(dir "${dir}" ABSOLUTE)
    if(NOT IS_DIRECTORY "${dir}")
      message(FATAL_ERROR "onefile_add_executable(${name}): DIRECTORIES entry ${dir} is not a folder")
    endif()
    get_filename_component(dir_name "${dir}" NAME)
    file(GLOB_RECURSE dir_files CONFIGURE_DEPENDS "${dir}/*")
    list(APPEND inputs ${dir_files})
    list(APPEND copies COMMAND "${CMAKE_COMMAND}" -E copy_directory "${dir}" "${stage}/${dir_name}")
  endforeach()

  set(texts "")
  if(arg_ICON)
    get_filename_component(icon "${arg_ICON}" ABSOLUTE)
    list(APPEND inputs "${icon}")
    list(APPEND texts --icon "${icon}")
  endif()
  foreach(text COMPANY PRODUCT VERSION)
    if(DEFINED arg_${text})
      string(TOLOWER "${text}" option)
      list(APPEND texts "--${option}" "${arg_${text}}")
    endif()
  endforeach()

  file(GLOB kit_files "${ONEFILE_KIT_DIR}/*")
  add_custom_command(OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${stage}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${stage}"
    COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:${library}>" "$<TARGET_RUNTIME_DLLS:${library}>" "${stage}/"
    ${copies}
    COMMAND Onefile::onefile-build --kit "${ONEFILE_KIT_DIR}" --app-dir "${stage}"
            --app-library "$<TARGET_FILE_NAME:${library}>" --output "${output}" ${texts} ${arg_OPTIONS}
    DEPENDS "${library}" "$<TARGET_RUNTIME_DLLS:${library}>" ${inputs} ${kit_files} "${ONEFILE_BUILD_PROGRAM}"
    COMMENT "Packing ${name}.exe"
    VERBATIM COMMAND_EXPAND_LISTS)
  add_custom_target(${name} ALL DEPENDS "${output}")
  set_target_properties(${name} PROPERTIES ONEFILE_EXECUTABLE "${output}")
endfunction()

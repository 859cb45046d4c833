# Test script for image_contract (see windows.cmake): the launcher holds the
# packer's block and keeps the image contract, onefile-build --verify finds
# the same from the exe alone, --extract gives the folder back, and two builds of the same inputs are the same
# file.
foreach(variable DIST_BIN APP_DIR LAUNCHER LAUNCHER_AGAIN WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_contract.cmake needs -D${variable}=...")
  endif()
endforeach()

set(block "${WORK_DIR}/image_contract.block")
execute_process(
  COMMAND "${DIST_BIN}/onefile-pack" --app-dir "${APP_DIR}" --output "${block}"
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "onefile-pack failed (${packed})")
endif()

execute_process(
  COMMAND "${DIST_BIN}/onefile-image-check" --exe "${LAUNCHER}" --block "${block}" --icon "${APP_DIR}/app.ico"
  RESULT_VARIABLE checked)
if(NOT checked EQUAL 0)
  message(FATAL_ERROR "the image contract does not hold for ${LAUNCHER}")
endif()

execute_process(COMMAND "${DIST_BIN}/onefile-build" --verify "${LAUNCHER}" RESULT_VARIABLE verified)
if(NOT verified EQUAL 0)
  message(FATAL_ERROR "onefile-build --verify refuses ${LAUNCHER}")
endif()

# --extract gives the folder back, byte for byte, and nothing else.
set(extracted "${WORK_DIR}/image_contract.extracted")
file(REMOVE_RECURSE "${extracted}")
execute_process(COMMAND "${DIST_BIN}/onefile-build" --extract "${LAUNCHER}" --to "${extracted}"
  RESULT_VARIABLE unpacked OUTPUT_QUIET)
file(GLOB_RECURSE app_files RELATIVE "${APP_DIR}" "${APP_DIR}/*")
file(GLOB_RECURSE extracted_files RELATIVE "${extracted}" "${extracted}/*")
if(NOT unpacked EQUAL 0 OR NOT app_files STREQUAL extracted_files)
  message(FATAL_ERROR "--extract of ${LAUNCHER} gives '${extracted_files}', not '${app_files}'")
endif()
foreach(name ${app_files})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${APP_DIR}/${name}" "${extracted}/${name}"
    RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "--extract of ${LAUNCHER} changes ${name}")
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${LAUNCHER}" "${LAUNCHER_AGAIN}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "two builds of the same inputs differ: ${LAUNCHER} and ${LAUNCHER_AGAIN}")
endif()
message(STATUS "image contract holds; the build is reproducible")

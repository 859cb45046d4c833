# The image contract on a real launcher (Windows tree; included by
# cmake/kit.cmake). onefile-build makes image_contract.exe from a tiny
# application folder; the test packs the same folder again with onefile-pack
# and runs the host-built onefile-image-check on the .exe, then compares it
# with a second build of the same inputs. All three programs come from the
# host tree's ${ONEFILE_DIST_DIR}/bin.

set(contract_dir "${CMAKE_BINARY_DIR}/tests/image")
set(contract_app "${contract_dir}/contract_app")
set(contract_fixtures "${CMAKE_SOURCE_DIR}/tests/image/fixtures")

add_library(image_contract_app SHARED "${contract_fixtures}/app_library.c")
set_target_properties(image_contract_app PROPERTIES
  PREFIX "" OUTPUT_NAME contract_app
  RUNTIME_OUTPUT_DIRECTORY "${contract_dir}/bin"
  ARCHIVE_OUTPUT_DIRECTORY "${contract_dir}/lib")
target_link_options(image_contract_app PRIVATE -s)

# The icon lies inside the folder, so onefile-pack on the same folder sees
# exactly the files onefile-build packed.
set(contract_stamp "${contract_dir}/contract_app.stamp")
add_custom_command(OUTPUT "${contract_stamp}"
  COMMAND ${CMAKE_COMMAND} -E rm -rf "${contract_app}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${contract_app}/data"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:image_contract_app> "${contract_app}"
  COMMAND ${CMAKE_COMMAND} -E copy "${ONEFILE_KIT_DIR}/app.ico" "${contract_app}"
  COMMAND ${CMAKE_COMMAND} -E copy "${contract_fixtures}/notes.txt" "${contract_app}/data"
  COMMAND ${CMAKE_COMMAND} -E touch "${contract_stamp}"
  DEPENDS image_contract_app onefile_kit_icon "${ONEFILE_KIT_DIR}/app.ico" "${contract_fixtures}/notes.txt"
  COMMENT "Staging the image contract application folder"
  VERBATIM)
add_custom_target(image_contract_app_folder ALL DEPENDS "${contract_stamp}")

foreach(copy image_contract image_contract_again)
  onefile_add_launcher(${copy}_launcher
    OUTPUT "${contract_dir}/${copy}.exe"
    APP_DIR "${contract_app}"
    DEPENDS image_contract_app_folder "${contract_stamp}"
    ARGS --icon "${contract_app}/app.ico")
endforeach()

add_test(NAME image_contract
  COMMAND ${CMAKE_COMMAND}
    -DDIST_BIN=${ONEFILE_DIST_DIR}/bin
    -DAPP_DIR=${contract_app}
    -DLAUNCHER=${contract_dir}/image_contract.exe
    -DLAUNCHER_AGAIN=${contract_dir}/image_contract_again.exe
    -DWORK_DIR=${contract_dir}
    -P ${CMAKE_SOURCE_DIR}/tests/image/check_contract.cmake)
set_tests_properties(image_contract PROPERTIES LABELS image TIMEOUT 300)

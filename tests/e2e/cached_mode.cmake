# Included by tests/e2e/CMakeLists.txt after hardening.cmake: the cached mode.
#
#   cached_launcher.exe         the probe application under the cache spec
#                               {TEMP}\onefile-cache\{PRODUCT}
#   cached_second_launcher.exe  the second application under the same spec:
#                               another build of the same product
#   cached_bulky_launcher.exe   the probe application with 24 MiB more, so
#                               that a run can be ended while it unpacks
#   e2e_cached_mode_test        cached_mode_test.cpp

set(CACHE_SPEC "{TEMP}\\onefile-cache\\{PRODUCT}")
set(CACHED_LAUNCHER ${E2E_DIR}/cached_launcher.exe)
set(CACHED_SECOND_LAUNCHER ${E2E_DIR}/cached_second_launcher.exe)
set(CACHED_BULKY_LAUNCHER ${E2E_DIR}/cached_bulky_launcher.exe)
set(BULKY_APP_DIR ${E2E_DIR}/bulky_app_folder)

onefile_add_launcher(e2e_cached_launcher
  OUTPUT ${CACHED_LAUNCHER}
  APP_DIR ${PROBE_APP_DIR}
  DEPENDS e2e_probe_app_folder ${probe_stamp}
  ARGS --app-library probe_app.dll --cache-dir ${CACHE_SPEC})
onefile_add_launcher(e2e_cached_second_launcher
  OUTPUT ${CACHED_SECOND_LAUNCHER}
  APP_DIR ${SECOND_APP_DIR}
  DEPENDS e2e_second_app_folder ${second_stamp}
  ARGS --app-library probe_app.dll --cache-dir ${CACHE_SPEC})

set(bulky_stamp ${E2E_DIR}/bulky_app_folder.stamp)
add_custom_command(OUTPUT ${bulky_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${BULKY_APP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROBE_APP_DIR} ${BULKY_APP_DIR}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/make_bulk.py ${BULKY_APP_DIR} 24
  COMMAND ${CMAKE_COMMAND} -E touch ${bulky_stamp}
  DEPENDS e2e_probe_app_folder ${probe_stamp} ${CMAKE_CURRENT_SOURCE_DIR}/make_bulk.py
  COMMENT "Staging the bulky application folder"
  VERBATIM)
add_custom_target(e2e_bulky_app_folder ALL DEPENDS ${bulky_stamp})
onefile_add_launcher(e2e_cached_bulky_launcher
  OUTPUT ${CACHED_BULKY_LAUNCHER}
  APP_DIR ${BULKY_APP_DIR}
  DEPENDS e2e_bulky_app_folder ${bulky_stamp}
  ARGS --app-library probe_app.dll --cache-dir ${CACHE_SPEC} --level 1)

onefile_wine_test(e2e_cached_mode_test
  SOURCES launcher_run.cpp probe_report.cpp tree_listing.cpp cached_mode_test.cpp)
target_compile_definitions(e2e_cached_mode_test PRIVATE
  E2E_SCRATCH_DIR="${E2E_DIR}/scratch"
  E2E_PROBE_APP_DIR="${PROBE_APP_DIR}"
  E2E_PROBE_LAUNCHER="${PROBE_LAUNCHER}"
  E2E_PROBE_SYMLINK="${PROBE_SYMLINK}"
  E2E_BLOCK_LAUNCHER_DIR="${BLOCK_DIR}"
  E2E_CACHED_LAUNCHER="${CACHED_LAUNCHER}"
  E2E_CACHED_SECOND_LAUNCHER="${CACHED_SECOND_LAUNCHER}"
  E2E_CACHED_BULKY_LAUNCHER="${CACHED_BULKY_LAUNCHER}")
add_dependencies(e2e_cached_mode_test e2e_probe_launcher e2e_cached_launcher e2e_cached_second_launcher
  e2e_cached_bulky_launcher)
add_test(NAME e2e_ctrl_c_cached
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ctrl_c_test.sh ${CACHED_LAUNCHER} ${E2E_DIR}/scratch/ctrl_c_cached cached)
set_tests_properties(e2e_ctrl_c_cached PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77
  RESOURCE_LOCK wine_user_temp)

# Sixteen launchers at once: alone, like the other load test.
set_tests_properties(e2e_cached_mode_test PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 600)

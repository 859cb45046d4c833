# Included by tests/e2e/CMakeLists.txt once its launchers are defined.
#
#   second_launcher.exe          probe_app.dll with a data tree of its own: the
#                                "different launcher" an application starts
#   big_launcher.exe             probe_app.dll with 100 MB of data (make_big_app.py):
#                                long enough to unpack that a test can
#                                interrupt or kill it on the way
#   e2e_hardening_test           limits a user can reach (limits_test.cpp);
#                                load and faults (load_test.cpp)
#   e2e_damaged_blocks           test-time setup: damaged_blocks.py packs a
#                                small application, damages the block some 200
#                                ways and links a launcher around each
#   e2e_damaged_payload_test     runs every one of them (damaged_payload_test.cpp)

set(SECOND_APP_DIR ${E2E_DIR}/second_app_folder)
set(SECOND_LAUNCHER ${E2E_DIR}/second_launcher.exe)
set(DAMAGE_DIR ${E2E_DIR}/damaged)

file(GENERATE OUTPUT ${E2E_DIR}/second_only_here.txt CONTENT "only in the second launcher\r\n")
set(second_stamp ${E2E_DIR}/second_app_folder.stamp)
add_custom_command(OUTPUT ${second_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SECOND_APP_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SECOND_APP_DIR}/second
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:probe_app> ${SECOND_APP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${E2E_DIR}/second_only_here.txt ${SECOND_APP_DIR}/second/only_here.txt
  COMMAND ${CMAKE_COMMAND} -E touch ${second_stamp}
  DEPENDS probe_app ${E2E_DIR}/second_only_here.txt
  COMMENT "Staging the second application folder"
  VERBATIM)
add_custom_target(e2e_second_app_folder ALL DEPENDS ${second_stamp})

onefile_add_launcher(e2e_second_launcher
  OUTPUT ${SECOND_LAUNCHER}
  APP_DIR ${SECOND_APP_DIR}
  DEPENDS e2e_second_app_folder ${second_stamp}
  ARGS --app-library probe_app.dll)

set(BIG_APP_DIR ${E2E_DIR}/big_app_folder)
set(BIG_LAUNCHER ${E2E_DIR}/big_launcher.exe)
set(big_stamp ${BIG_APP_DIR}.stamp)
e2e_stage_probe_folder(e2e_big_app_folder ${BIG_APP_DIR} make_big_app.py)
# Level 3: packed in a few seconds; unpacking takes as long at any level.
onefile_add_launcher(e2e_big_launcher
  OUTPUT ${BIG_LAUNCHER}
  APP_DIR ${BIG_APP_DIR}
  DEPENDS e2e_big_app_folder ${big_stamp}
  ARGS --app-library probe_app.dll --level 3)

# Ctrl-C at 40 points over the unpacking and start of the 100 MB application.
add_test(NAME e2e_ctrl_c_points
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ctrl_c_test.sh ${BIG_LAUNCHER} ${E2E_DIR}/scratch/ctrl_c_points points 40)
set_tests_properties(e2e_ctrl_c_points PROPERTIES LABELS e2e TIMEOUT 900 SKIP_RETURN_CODE 77
  RESOURCE_LOCK wine_user_temp)

onefile_wine_test(e2e_hardening_test
  SOURCES launcher_run.cpp probe_report.cpp tree_listing.cpp limits_test.cpp load_test.cpp temp_mode_test.cpp)
target_compile_definitions(e2e_hardening_test PRIVATE
  E2E_SCRATCH_DIR="${E2E_DIR}/scratch"
  E2E_PROBE_APP_DIR="${PROBE_APP_DIR}"
  E2E_PROBE_LAUNCHER="${PROBE_LAUNCHER}"
  E2E_PROBE_SYMLINK="${PROBE_SYMLINK}"
  E2E_BLOCK_LAUNCHER_DIR="${BLOCK_DIR}"
  E2E_SECOND_LAUNCHER="${SECOND_LAUNCHER}"
  E2E_SECOND_APP_DIR="${SECOND_APP_DIR}"
  E2E_BIG_LAUNCHER="${BIG_LAUNCHER}")
# temp_mode_test.cpp takes the liveness marker's name from the launcher.
target_include_directories(e2e_hardening_test PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(e2e_hardening_test e2e_probe_launcher e2e_second_launcher e2e_big_launcher ${block_launcher_targets})
# Sixteen launchers at once: alone, so that no other test loads Wine meanwhile.
set_tests_properties(e2e_hardening_test PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 900)

# Linking each damaged block takes a tenth of a second, so the launchers are
# made when the test runs rather than on every build.
add_test(NAME e2e_damaged_blocks
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/damaged_blocks.py ${DAMAGE_DIR}
          $<TARGET_FILE:probe_app> ${ONEFILE_DIST_DIR}/bin/onefile-pack ${ONEFILE_BUILD_PROGRAM} ${ONEFILE_KIT_DIR})
set_tests_properties(e2e_damaged_blocks PROPERTIES FIXTURES_SETUP e2e_damaged LABELS e2e TIMEOUT 300)

onefile_wine_test(e2e_damaged_payload_test
  SOURCES launcher_run.cpp probe_report.cpp tree_listing.cpp damaged_payload_test.cpp
  LIBS zstd_decompress)
target_compile_definitions(e2e_damaged_payload_test PRIVATE
  E2E_SCRATCH_DIR="${E2E_DIR}/scratch"
  E2E_DAMAGE_DIR="${DAMAGE_DIR}")
add_dependencies(e2e_damaged_payload_test probe_app onefile_kit)
set_tests_properties(e2e_damaged_payload_test PROPERTIES FIXTURES_REQUIRED e2e_damaged LABELS e2e TIMEOUT 600)

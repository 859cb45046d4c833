# `cmake --install build/windows --prefix PREFIX` (after tools/build.sh)
# installs everything a user's project needs:
#   PREFIX/bin/onefile-build                     from the host tree, via build/dist
#   PREFIX/lib/onefile/kit/                      the launcher kit
#   PREFIX/lib/cmake/Onefile/OnefileConfig.cmake and OnefileConfigVersion.cmake
# The Windows tree installs it all because it is the tree that needs both
# halves already: its launchers are made by the host tree's onefile-build.
include(CMakePackageConfigHelpers)

set(ONEFILE_PACKAGE_DIR lib/cmake/Onefile)
# The kit is x86-64 code, so the version file keeps CMake's check that the
# consumer's pointer size matches.
write_basic_package_version_file("${CMAKE_BINARY_DIR}/OnefileConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

install(PROGRAMS "${ONEFILE_BUILD_PROGRAM}" DESTINATION bin)
install(DIRECTORY "${ONEFILE_KIT_DIR}/" DESTINATION lib/onefile/kit)
install(FILES "${CMAKE_SOURCE_DIR}/cmake/OnefileConfig.cmake" "${CMAKE_BINARY_DIR}/OnefileConfigVersion.cmake"
  DESTINATION ${ONEFILE_PACKAGE_DIR})

# GoogleTest, cross-built for Windows from the sources Debian's googletest package installs.
set(ONEFILE_GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
add_library(gtest STATIC "${ONEFILE_GTEST_SOURCE_DIR}/src/gtest-all.cc")
target_include_directories(gtest SYSTEM PUBLIC "${ONEFILE_GTEST_SOURCE_DIR}/include"
  PRIVATE "${ONEFILE_GTEST_SOURCE_DIR}")
add_library(gtest_main STATIC "${ONEFILE_GTEST_SOURCE_DIR}/src/gtest_main.cc")
target_link_libraries(gtest_main PUBLIC gtest)

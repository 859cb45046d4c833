# Test helpers shared by every tests/ folder.
#
# onefile_wine_test(NAME SOURCES ... LIBS ...)
#   A GoogleTest executable for Windows, run by CTest through tools/wine-run.
#   It links the normal toolchain runtime (never our own runtime layer).
# onefile_host_test(NAME SOURCES ... LIBS ...)
#   A GoogleTest executable for the host (packer side).

if(WIN32)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/tools/wine-run" CACHE FILEPATH "" FORCE)
endif()

function(onefile_wine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest -static)
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

function(onefile_host_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# onefile_wine_tests_per_file(PREFIX LIBS ...)
#   One onefile_wine_test per *_test.cpp of the calling folder, named
#   <PREFIX>_<file>, each with the folder's support/*.cpp and the folder on
#   its include path.
function(onefile_wine_tests_per_file prefix)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(test_source ${tests})
    get_filename_component(test_name ${test_source} NAME_WE)
    onefile_wine_test(${prefix}_${test_name} SOURCES ${test_source} ${support} LIBS ${T_LIBS})
    target_include_directories(${prefix}_${test_name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  endforeach()
endfunction()

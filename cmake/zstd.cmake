# zstd's decoder for the Windows image, built from the Debian source package that
# tools/setup.sh unpacks. Only lib/common and lib/decompress: the image never compresses.
set(ONEFILE_ZSTD_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.cache/zstd-src" CACHE PATH "Unpacked zstd sources")
if(NOT EXISTS "${ONEFILE_ZSTD_SOURCE_DIR}/lib/decompress/zstd_decompress.c")
  message(FATAL_ERROR "zstd sources not found in ${ONEFILE_ZSTD_SOURCE_DIR}; run tools/setup.sh")
endif()
file(GLOB ONEFILE_ZSTD_SOURCES
  "${ONEFILE_ZSTD_SOURCE_DIR}/lib/common/*.c"
  "${ONEFILE_ZSTD_SOURCE_DIR}/lib/decompress/*.c")
add_library(zstd_decompress STATIC ${ONEFILE_ZSTD_SOURCES})
target_include_directories(zstd_decompress SYSTEM PUBLIC
  "${ONEFILE_ZSTD_SOURCE_DIR}/lib" "${ONEFILE_ZSTD_SOURCE_DIR}/lib/common")
# zstd tests these macros only for being defined: never pass -DX=0 to turn one off.
target_compile_definitions(zstd_decompress PRIVATE
  ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_)
target_compile_options(zstd_decompress PRIVATE -O3 -fno-builtin-malloc -w)

# The compressing side too, for tests that make frames on the fly. Never linked
# into the image.
file(GLOB ONEFILE_ZSTD_COMPRESS_SOURCES "${ONEFILE_ZSTD_SOURCE_DIR}/lib/compress/*.c")
add_library(zstd_test_compress STATIC ${ONEFILE_ZSTD_COMPRESS_SOURCES})
target_link_libraries(zstd_test_compress PUBLIC zstd_decompress)
target_compile_definitions(zstd_test_compress PRIVATE ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_)
target_compile_options(zstd_test_compress PRIVATE -O2 -w)

# quellorn_zstd: zstd for both builds. Linux: Debian's libzstd-dev. Windows: no mingw-w64 package
# exists, so Debian's own source of the library, at the version scripts/zstd-source pins and
# fetches, is compiled with the cross toolchain and linked statically like everything else.
if(WIN32)
  set(QUELLORN_ZSTD_SOURCE "${PROJECT_SOURCE_DIR}/build/third_party/libzstd-1.5.4+dfsg2" CACHE PATH
      "Debian's zstd source for the Windows build (scripts/zstd-source fetches it)")
  if(NOT EXISTS "${QUELLORN_ZSTD_SOURCE}/lib/zstd.h")
    message(FATAL_ERROR "zstd's source isn't at ${QUELLORN_ZSTD_SOURCE}: run scripts/zstd-source")
  endif()
  file(GLOB zstd_sources CONFIGURE_DEPENDS "${QUELLORN_ZSTD_SOURCE}/lib/common/*.c"
       "${QUELLORN_ZSTD_SOURCE}/lib/compress/*.c" "${QUELLORN_ZSTD_SOURCE}/lib/decompress/*.c")
  add_library(quellorn_zstd STATIC ${zstd_sources})
  target_include_directories(quellorn_zstd SYSTEM PUBLIC "${QUELLORN_ZSTD_SOURCE}/lib")
  # Threads for the publisher's compression; the C decoder instead of the assembly one, which
  # mingw's assembler doesn't take.
  target_compile_definitions(quellorn_zstd PRIVATE ZSTD_MULTITHREAD ZSTD_DISABLE_ASM)
else()
  find_path(ZSTD_INCLUDE_DIR zstd.h REQUIRED)
  find_library(ZSTD_LIBRARY zstd REQUIRED)
  add_library(quellorn_zstd INTERFACE)
  target_include_directories(quellorn_zstd SYSTEM INTERFACE "${ZSTD_INCLUDE_DIR}")
  target_link_libraries(quellorn_zstd INTERFACE "${ZSTD_LIBRARY}")
endif()

# The decoder and the meter of /L: libmpg123 decodes, libebur128 meters.
# Natively they are Debian's shared libraries. For Windows both are built
# once per build tree from the upstream tarballs of Debian's source packages
# (tools/setup.sh fetches them into build/sources through apt), their SHA-256
# checked first: libmpg123 as its own DLL, which the program loads only when a
# run measures loudness and which stays beside Korvane.exe; libebur128 as a
# static library linked into the program.
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
  pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
  target_link_libraries(korvane_core PUBLIC PkgConfig::MPG123 PkgConfig::EBUR128)
  return()
endif()

include(ExternalProject)
set(KORVANE_SOURCES_DIR ${CMAKE_SOURCE_DIR}/build/sources CACHE PATH
    "Where tools/setup.sh puts the tarballs of libmpg123 and libebur128")
set(KORVANE_DECODER_DLL libmpg123.dll)
set(third ${CMAKE_BINARY_DIR}/third-party)
# The libraries need no DLL but Windows' own: the GCC runtime is linked in.
set(third_args -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${third} -DCMAKE_INSTALL_LIBDIR=lib
    "-DCMAKE_SHARED_LINKER_FLAGS=-static-libgcc -static")

ExternalProject_Add(mpg123_build
  URL ${KORVANE_SOURCES_DIR}/mpg123_1.31.2.orig.tar.bz2
  URL_HASH SHA256=b17f22905e31f43b6b401dfdf6a71ed11bb7d056f68db449d70b9f9ae839c7de
  DOWNLOAD_EXTRACT_TIMESTAMP OFF
  SOURCE_SUBDIR ports/cmake
  CMAKE_ARGS ${third_args} -DBUILD_SHARED_LIBS=ON -DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF
  BUILD_BYPRODUCTS ${third}/bin/${KORVANE_DECODER_DLL} ${third}/include/mpg123.h)
ExternalProject_Add(ebur128_build
  URL ${KORVANE_SOURCES_DIR}/libebur128_1.2.6.orig.tar.gz
  URL_HASH SHA256=baa7fc293a3d4651e244d8022ad03ab797ca3c2ad8442c43199afe8059faa613
  DOWNLOAD_EXTRACT_TIMESTAMP OFF
  CMAKE_ARGS ${third_args} -DBUILD_SHARED_LIBS=OFF
  BUILD_BYPRODUCTS ${third}/lib/libebur128.a)

file(MAKE_DIRECTORY ${third}/include)
add_library(korvane_ebur128 STATIC IMPORTED GLOBAL)
set_target_properties(korvane_ebur128 PROPERTIES IMPORTED_LOCATION ${third}/lib/libebur128.a
  INTERFACE_INCLUDE_DIRECTORIES ${third}/include)
add_dependencies(korvane_ebur128 ebur128_build)
add_dependencies(korvane_core mpg123_build ebur128_build)
# Only the header of libmpg123: the program loads the DLL itself.
target_include_directories(korvane_core PUBLIC ${third}/include)
target_link_libraries(korvane_core PUBLIC korvane_ebur128)
target_compile_definitions(korvane_core PUBLIC KORVANE_DECODER_DLL="${KORVANE_DECODER_DLL}")
# The DLL lies beside Korvane.exe in the build tree, as in the zip and the setup.
add_custom_target(decoder_dll ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${third}/bin/${KORVANE_DECODER_DLL} ${CMAKE_BINARY_DIR}/
  DEPENDS mpg123_build)

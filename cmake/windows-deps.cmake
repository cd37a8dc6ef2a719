# The C libraries of the Windows build, made from Debian's own source packages
# with the cross compiler: libjpeg-turbo (the release the Linux build links),
# and zlib with libpng for the renderer's PNG frames. Sources are fetched once
# at configure time, built once by the build itself, and kept in the build
# folder (deps/); nothing of them is committed.
include(ExternalProject)

set(deps_dir ${CMAKE_BINARY_DIR}/deps)
set(deps_prefix ${deps_dir}/install)

include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)

fetch_debian_source(libpng1.6 png_source)

set(deps_cmake_args
  -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=${deps_prefix}
  -DCMAKE_POLICY_DEFAULT_CMP0074=NEW
  -Wno-dev --no-warn-unused-cli)

# The SIMD code needs nasm.
add_libjpeg_from_debian_source(-DREQUIRE_SIMD=ON)

add_zlib_from_debian_source()

ExternalProject_Add(dep_libpng
  SOURCE_DIR ${png_source}
  BINARY_DIR ${deps_dir}/build/libpng
  DEPENDS dep_zlib
  CMAKE_ARGS ${deps_cmake_args} -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF
    -DPNG_EXECUTABLES=OFF -DZLIB_INCLUDE_DIR=${deps_prefix}/include
    -DZLIB_LIBRARY=${deps_prefix}/lib/libz.a
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target png_static
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libpng16.a ${deps_prefix}/lib/libpng.a
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/pnglibconf.h <SOURCE_DIR>/png.h
      <SOURCE_DIR>/pngconf.h ${deps_prefix}/include/
  BUILD_BYPRODUCTS ${deps_prefix}/lib/libpng.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

add_library(queltravine_libpng STATIC IMPORTED GLOBAL)
set_target_properties(queltravine_libpng PROPERTIES
  IMPORTED_LOCATION ${deps_prefix}/lib/libpng.a
  INTERFACE_INCLUDE_DIRECTORIES ${deps_prefix}/include
  INTERFACE_LINK_LIBRARIES queltravine_zlib)
add_dependencies(queltravine_libpng dep_libpng)

# CLI11, the renderer's option parser, is header-only and platform-neutral:
# the host's headers are copied into a folder that holds nothing else, so
# the cross build never sees the rest of the host's /usr/include.
set(QUELTRAVINE_CLI11_HEADERS /usr/include/CLI CACHE PATH
  "The host's CLI11 headers (Debian package libcli11-dev)")
if(NOT EXISTS ${QUELTRAVINE_CLI11_HEADERS}/CLI.hpp)
  message(FATAL_ERROR "CLI11 not found in ${QUELTRAVINE_CLI11_HEADERS}: install libcli11-dev")
endif()
file(COPY ${QUELTRAVINE_CLI11_HEADERS}/ DESTINATION ${deps_dir}/cli11/CLI)
add_library(queltravine_cli11 INTERFACE)
target_include_directories(queltravine_cli11 SYSTEM INTERFACE ${deps_dir}/cli11)

# The browser build (emcmake cmake): the site in build-web/site/. libjpeg-turbo
# is made from Debian's source package with emscripten, as the Windows build
# makes it with mingw-w64, so the pictures decode to the native pixels.
include(ExternalProject)
set(QUELTRAVINE_JPEG_RELEASE 2.1.5 CACHE STRING
  "libjpeg-turbo release for the browser; the Linux build links the same one")
set(deps_dir ${CMAKE_BINARY_DIR}/deps)
set(deps_prefix ${deps_dir}/install)
file(MAKE_DIRECTORY ${deps_prefix}/include ${deps_prefix}/lib)
include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)
fetch_debian_source(libjpeg-turbo ${QUELTRAVINE_JPEG_RELEASE} jpeg_source)

# No SIMD: wasm has none of libjpeg-turbo's assembly. Its C paths give the
# same pixels (the decoder's integer maths is exact).
ExternalProject_Add(dep_libjpeg
  SOURCE_DIR ${jpeg_source}
  BINARY_DIR ${deps_dir}/build/libjpeg
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${deps_prefix} -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -Wno-dev --no-warn-unused-cli
    # CMake's size probes misread wasm objects (size_t came out as 7 bytes).
    -DHAVE_SIZE_T=TRUE -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=TRUE -DUNSIGNED_LONG=4
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libjpeg.a ${deps_prefix}/lib/
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/jconfig.h <SOURCE_DIR>/jpeglib.h
      <SOURCE_DIR>/jmorecfg.h <SOURCE_DIR>/jerror.h ${deps_prefix}/include/
  BUILD_BYPRODUCTS ${deps_prefix}/lib/libjpeg.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
add_library(queltravine_libjpeg STATIC IMPORTED GLOBAL)
set_target_properties(queltravine_libjpeg PROPERTIES
  IMPORTED_LOCATION ${deps_prefix}/lib/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${deps_prefix}/include)
add_dependencies(queltravine_libjpeg dep_libjpeg)

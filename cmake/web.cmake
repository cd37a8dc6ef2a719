# The browser build (emcmake cmake): the site in build-web/site/. libjpeg-turbo
# is made from Debian's source package with emscripten, as the Windows build
# makes it with mingw-w64, so the pictures decode to the native pixels.
set(deps_dir ${CMAKE_BINARY_DIR}/deps)
set(deps_prefix ${deps_dir}/install)
include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)

# No SIMD: wasm has none of libjpeg-turbo's assembly. Its C paths give the
# same pixels (the decoder's integer maths is exact). CMake's size probes
# misread wasm objects (size_t came out as 7 bytes).
add_libjpeg_from_debian_source(-DWITH_SIMD=OFF
  -DHAVE_SIZE_T=TRUE -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=TRUE -DUNSIGNED_LONG=4)

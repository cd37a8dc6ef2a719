# The browser build (emcmake cmake): the site in build-web/site/. libjpeg-turbo
# and zlib's CRC-32 are made from Debian's source packages with emscripten, as the Windows build
# makes it with mingw-w64, so the pictures decode to the native pixels.
set(deps_dir ${CMAKE_BINARY_DIR}/deps)
set(deps_prefix ${deps_dir}/install)
include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)

# No SIMD: wasm has none of libjpeg-turbo's assembly. Its C paths give the
# same pixels (the decoder's integer maths is exact). CMake's size probes
# misread wasm objects (size_t came out as 7 bytes).
add_libjpeg_from_debian_source(-DWITH_SIMD=OFF
  -DHAVE_SIZE_T=TRUE -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=TRUE -DUNSIGNED_LONG=4)
# zlib's CRC-32 for the frame checksums of the render mode, as natively: its
# C sources from Debian's package compiled here. (zlib's own CMake file wants
# a Windows resource file for every system but MinGW, which Debian's source
# leaves out.)
enable_language(C)
fetch_debian_source(zlib zlib_source)
configure_file(${zlib_source}/zconf.h.in ${deps_dir}/zlib/zconf.h COPYONLY)
add_library(queltravine_zlib STATIC ${zlib_source}/crc32.c ${zlib_source}/zutil.c)
target_include_directories(queltravine_zlib SYSTEM PUBLIC ${deps_dir}/zlib ${zlib_source})
target_compile_options(queltravine_zlib PRIVATE -O2)

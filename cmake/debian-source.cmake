# The Debian source packages the cross builds make their C libraries from,
# each pinned to one version (without its epoch), so that every build of a
# release compiles the same sources. Debian 12's, as its archive carries them.
set(QUELTRAVINE_DEBIAN_VERSIONS
  libjpeg-turbo=2.1.5-2
  zlib=1.2.13.dfsg-1
  libpng1.6=1.6.39-2+deb12u5)

# Fetches and unpacks the pinned version of one of Debian's source packages
# into deps_dir/source at configure time (once; later runs find it there) and
# sets out_var to its folder.
function(fetch_debian_source package out_var)
  set(version)
  foreach(pin ${QUELTRAVINE_DEBIAN_VERSIONS})
    if(pin MATCHES "^${package}=(.*)$")
      set(version ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(NOT version)
    message(FATAL_ERROR "No version of the Debian source package ${package} is pinned")
  endif()
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch-debian-source.sh ${package} ${deps_dir}/source ${version}
    OUTPUT_VARIABLE output OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Could not fetch the Debian source package ${package}")
  endif()
  string(REGEX REPLACE ".*\n" "" folder "${output}")
  message(STATUS "Debian source of ${package}: ${folder}")
  set(${out_var} ${folder} PARENT_SCOPE)
endfunction()

# What the libraries' own builds share: the toolchain of this build and the
# folders they install into.
include(ExternalProject)
file(MAKE_DIRECTORY ${deps_prefix}/include ${deps_prefix}/lib)
set(debian_source_toolchain)
if(CMAKE_TOOLCHAIN_FILE)
  set(debian_source_toolchain -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
endif()

# Builds the static libjpeg of Debian's libjpeg-turbo source with the current
# toolchain, installs it into deps_prefix and makes the imported target
# queltravine_libjpeg. Extra arguments go to the library's configure step
# (SIMD, compiler flags, probes a cross compiler gets wrong).
function(add_libjpeg_from_debian_source)
  fetch_debian_source(libjpeg-turbo jpeg_source)
  ExternalProject_Add(dep_libjpeg
    SOURCE_DIR ${jpeg_source}
    BINARY_DIR ${deps_dir}/build/libjpeg
    CMAKE_ARGS ${debian_source_toolchain} -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${deps_prefix}
      -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -Wno-dev --no-warn-unused-cli
      ${ARGN}
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
endfunction()

# Builds the static zlib of Debian's source the same way: the imported target
# queltravine_zlib (the renderer's PNG frames and the frame checksums).
function(add_zlib_from_debian_source)
  fetch_debian_source(zlib zlib_source)
  ExternalProject_Add(dep_zlib
    SOURCE_DIR ${zlib_source}
    BINARY_DIR ${deps_dir}/build/zlib
    CMAKE_ARGS ${debian_source_toolchain} -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${deps_prefix}
      -Wno-dev --no-warn-unused-cli
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target zlibstatic
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libzlibstatic.a ${deps_prefix}/lib/libz.a
      COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/zconf.h <SOURCE_DIR>/zlib.h
        ${deps_prefix}/include/
    BUILD_BYPRODUCTS ${deps_prefix}/lib/libz.a
    LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
  add_library(queltravine_zlib STATIC IMPORTED GLOBAL)
  set_target_properties(queltravine_zlib PROPERTIES
    IMPORTED_LOCATION ${deps_prefix}/lib/libz.a
    INTERFACE_INCLUDE_DIRECTORIES ${deps_prefix}/include)
  add_dependencies(queltravine_zlib dep_zlib)
endfunction()

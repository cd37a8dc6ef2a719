# Fetches and unpacks one of Debian's source packages into deps_dir/source at
# configure time (once; later runs find it there) and sets out_var to its
# folder. The cross builds make their C libraries from these.
function(fetch_debian_source package release out_var)
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/tools/fetch-debian-source.sh ${package} ${deps_dir}/source ${release}
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
set(QUELTRAVINE_JPEG_RELEASE 2.1.5 CACHE STRING
  "libjpeg-turbo release for the builds made from source; the Linux build links the same one")
function(add_libjpeg_from_debian_source)
  fetch_debian_source(libjpeg-turbo ${QUELTRAVINE_JPEG_RELEASE} jpeg_source)
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
  fetch_debian_source(zlib "" zlib_source)
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

# The show's sin and pow for every build (core/show_maths.h): the C sources
# of Debian's musl compiled into the static library queltravine_maths under
# the project's own names (core/musl_maths/names.h), with the same
# floating-point flags as the rest of the show. Only the files these two
# functions need. (musl's tanh strays up to two ulps; the show's own is in
# core/show_tanh.cpp.)
set(QUELTRAVINE_MUSL_RELEASE 1.2.3 CACHE STRING "musl release whose maths every build compiles")
function(add_musl_maths_from_debian_source)
  fetch_debian_source(musl ${QUELTRAVINE_MUSL_RELEASE} musl_source)
  set(sources)
  foreach(name sin __sin __cos __rem_pio2 __rem_pio2_large pow pow_data exp_data
      __math_oflow __math_uflow __math_xflow __math_invalid)
    set(wrapper ${deps_dir}/musl-maths/${name}.c)
    file(CONFIGURE OUTPUT ${wrapper} CONTENT
      "#include \"core/musl_maths/names.h\"\n#include \"${musl_source}/src/math/${name}.c\"\n")
    list(APPEND sources ${wrapper})
  endforeach()
  add_library(queltravine_maths STATIC ${sources})
  target_include_directories(queltravine_maths PRIVATE ${PROJECT_SOURCE_DIR}
    ${musl_source}/src/internal ${musl_source}/arch/generic)
  if(WIN32)
    target_include_directories(queltravine_maths PRIVATE ${PROJECT_SOURCE_DIR}/core/musl_maths/windows)
  endif()
  # A call without a prototype would silently return garbage.
  target_compile_options(queltravine_maths PRIVATE -O2 -Werror=implicit-function-declaration)
  target_link_libraries(queltravine_maths PRIVATE queltravine_fp)
endfunction()

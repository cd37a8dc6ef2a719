# The show's sin and pow for every build (core/show_maths.h): musl's C
# sources, kept in third_party/ so that no build needs the network, compiled
# into the static library queltravine_maths under the project's own names
# (core/musl_maths/names.h) with the same floating-point flags as the rest of
# the show. (musl's tanh strays up to two ulps; the show's own is in
# core/show_tanh.cpp.)
function(add_musl_maths)
  set(musl_source ${PROJECT_SOURCE_DIR}/third_party/musl-1.2.3)
  set(sources)
  foreach(name sin __sin __cos __rem_pio2 __rem_pio2_large pow pow_data exp_data
      __math_oflow __math_uflow __math_xflow __math_invalid)
    set(wrapper ${CMAKE_BINARY_DIR}/musl-maths/${name}.c)
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

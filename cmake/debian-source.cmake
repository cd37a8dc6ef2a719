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

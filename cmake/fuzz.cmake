# The picture fuzzer (preset "fuzz", clang only): the loader and libjpeg-turbo
# from Debian's source, both built with libFuzzer's coverage and with
# AddressSanitizer + UndefinedBehaviorSanitizer, so that the fuzzer sees the
# library's branches as well as ours. The library is built without its SIMD
# assembly, which cannot be instrumented; its C paths decode to the same
# pixels. Builds nothing else.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzzer needs clang (cmake --preset fuzz)")
endif()
set(fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer -g -O1)
list(JOIN fuzz_flags " " fuzz_c_flags)
string(REPLACE "clang++" "clang" fuzz_c_compiler "${CMAKE_CXX_COMPILER}")

set(deps_dir ${CMAKE_BINARY_DIR}/deps)
set(deps_prefix ${deps_dir}/install)
include(${CMAKE_CURRENT_LIST_DIR}/debian-source.cmake)
add_libjpeg_from_debian_source(-DWITH_SIMD=OFF -DCMAKE_C_COMPILER=${fuzz_c_compiler}
  "-DCMAKE_C_FLAGS=${fuzz_c_flags}" -DCMAKE_BUILD_TYPE=RelWithDebInfo)

add_library(queltravine_fuzz_loader STATIC pictures/picture_loader.cpp)
target_compile_options(queltravine_fuzz_loader PUBLIC ${fuzz_flags})
target_link_options(queltravine_fuzz_loader PUBLIC -fsanitize=address,undefined)
target_link_libraries(queltravine_fuzz_loader PUBLIC queltravine_options queltravine_libjpeg)

add_executable(picture_loader_fuzz tests/fuzz/picture_loader_fuzz.cpp)
target_link_libraries(picture_loader_fuzz PRIVATE queltravine_fuzz_loader)
target_link_options(picture_loader_fuzz PRIVATE -fsanitize=fuzzer)

# The seed corpus, made at build time; the system's libjpeg writes it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBJPEG REQUIRED IMPORTED_TARGET libjpeg)
add_executable(make_seed_corpus tests/fuzz/make_seed_corpus.cpp)
target_link_libraries(make_seed_corpus PRIVATE queltravine_options PkgConfig::LIBJPEG)
set(seed_corpus ${CMAKE_BINARY_DIR}/seed-corpus)
add_custom_command(OUTPUT ${seed_corpus}/baseline.jpg
  COMMAND ${CMAKE_COMMAND} -E make_directory ${seed_corpus}
  COMMAND make_seed_corpus ${seed_corpus}
  DEPENDS make_seed_corpus)
add_custom_target(seed_corpus ALL DEPENDS ${seed_corpus}/baseline.jpg)

# The fixed run: a fixed number of executions from a fixed seed, starting
# from the seed corpus and every input a past run found at fault.
set(QUELTRAVINE_FUZZ_RUNS 200000 CACHE STRING "Executions of the fixed fuzz run")
enable_testing()
add_test(NAME picture_loader_fuzz_fixed_run
  COMMAND ${CMAKE_COMMAND} -E env --unset=ASAN_OPTIONS
    sh -c "rm -rf fuzz-work && mkdir fuzz-work && \"$0\" -seed=1 -runs=$1 -max_len=4096 -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 -print_final_stats=1 fuzz-work \"$2\" $(ls -d \"$3\" 2>/dev/null)"
    $<TARGET_FILE:picture_loader_fuzz> ${QUELTRAVINE_FUZZ_RUNS} ${seed_corpus}
    ${PROJECT_SOURCE_DIR}/tests/fuzz/regressions
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(picture_loader_fuzz_fixed_run PROPERTIES TIMEOUT 1200)

# The site: index.html, page.js, the module (queltravine.js and .wasm), the
# worklet (synth_worklet.js) with its own synth.wasm, and the six pictures,
# all in site/ of the build folder. Static files only: no special headers,
# no threads (SharedArrayBuffer would need them).
set(site_dir ${CMAKE_BINARY_DIR}/site)
# The noise kernel and the flash courses in WebAssembly SIMD (4 lanes), and
# the flash tracker's and limiter's own loops vectorised by the compiler;
# the page tells a browser without SIMD what it lacks.
target_sources(queltravine_core PRIVATE scenes/noise_wave_wasm.cpp scenes/flash_course_wasm.cpp)
set_source_files_properties(scenes/noise_wave_wasm.cpp scenes/flash_course_wasm.cpp
  scenes/flash_tracker.cpp scenes/flash_limiter.cpp PROPERTIES COMPILE_OPTIONS -msimd128)
target_compile_definitions(queltravine_core PUBLIC QUELTRAVINE_WASM_SIMD=1)
set(web_common_flags -O2 -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH=0)

add_executable(queltravine-web app/web_main.cpp app/demo_sequence.cpp app/web_render.cpp
  render/frame_log.cpp render/schedule.cpp render/audio_blocks.cpp render/show_frames.cpp
  platform/failure.cpp platform/display_device.cpp
  platform/web/audio.cpp platform/web/display.cpp platform/web/window.cpp)
target_link_libraries(queltravine-web PRIVATE queltravine_core queltravine_window queltravine_zlib)
set_target_properties(queltravine-web PROPERTIES OUTPUT_NAME queltravine SUFFIX .js
  RUNTIME_OUTPUT_DIRECTORY ${site_dir})
# The memory never grows: the canvas's ImageData views it for good.
target_link_options(queltravine-web PRIVATE ${web_common_flags} -sMODULARIZE=1
  -sEXPORT_NAME=createQueltravine -sINITIAL_MEMORY=64MB -sFORCE_FILESYSTEM=1
  -sEXPORTED_RUNTIME_METHODS=FS,UTF8ToString -sEXIT_RUNTIME=0 -sINVOKE_RUN=0)

# The synthesiser alone for the audio worklet: a module with no imports. It
# plays at 44100 Hz through the project's own upsampler, as the Windows player
# does, so the browser does not resample.
add_executable(queltravine-synth platform/web/synth_module.cpp platform/web/audio_stream.cpp
  synth/synthesiser.cpp synth/upsampler.cpp core/show_tanh.cpp)
target_link_libraries(queltravine-synth PRIVATE queltravine_options queltravine_maths)
set_target_properties(queltravine-synth PROPERTIES OUTPUT_NAME synth SUFFIX .wasm
  RUNTIME_OUTPUT_DIRECTORY ${site_dir})
set(synth_exports startStream streamBuffer streamBufferFrames streamRate playStream blocksMade
  lateBlocks residueA residueB rawBlockBuffer fillRawBlock)
list(TRANSFORM synth_exports PREPEND _)
list(JOIN synth_exports , synth_exports)
target_link_options(queltravine-synth PRIVATE ${web_common_flags} -sSTANDALONE_WASM --no-entry
  -sINITIAL_MEMORY=1MB -sTOTAL_STACK=65536 -sEXPORTED_FUNCTIONS=${synth_exports})

set(site_sources index.html page.js synth_worklet.js)
set(site_files)
foreach(name ${site_sources})
  add_custom_command(OUTPUT ${site_dir}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/platform/web/${name} ${site_dir}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/platform/web/${name})
  list(APPEND site_files ${site_dir}/${name})
endforeach()
foreach(name IN LISTS QUELTRAVINE_PICTURES)
  add_custom_command(OUTPUT ${site_dir}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/${name} ${site_dir}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${name})
  list(APPEND site_files ${site_dir}/${name})
endforeach()
# Precompressed copies beside the files (NAME.gz, NAME.br) for hosts that
# serve them; remade whenever a file of the site changes.
find_program(QUELTRAVINE_GZIP gzip)
find_program(QUELTRAVINE_BROTLI brotli)
if(QUELTRAVINE_GZIP AND QUELTRAVINE_BROTLI)
  set(precompressed_stamp ${CMAKE_BINARY_DIR}/site-precompressed.stamp)
  add_custom_command(OUTPUT ${precompressed_stamp}
    COMMAND ${PROJECT_SOURCE_DIR}/tools/precompress-site.sh ${site_dir}
    COMMAND ${CMAKE_COMMAND} -E touch ${precompressed_stamp}
    DEPENDS ${site_files} queltravine-web queltravine-synth
            ${PROJECT_SOURCE_DIR}/tools/precompress-site.sh)
  list(APPEND site_files ${precompressed_stamp})
else()
  message(WARNING "gzip or brotli is missing: the site gets no precompressed copies")
endif()
add_custom_target(site ALL DEPENDS ${site_files} queltravine-web queltravine-synth)

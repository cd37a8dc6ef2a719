# The site: index.html, page.js, the module (queltravine.js and .wasm), the
# worklet (synth_worklet.js) with its own synth.wasm, the six pictures, the
# poster frame, the web app manifest with two icons and the service worker
# (sw.js), all in site/ of the build folder. Static files only: no special
# headers, no threads (SharedArrayBuffer would need them).
set(site_dir ${CMAKE_BINARY_DIR}/site)
# Where the site will be hosted, for the link preview's absolute URLs
# (og:url, og:image); empty, they stay relative to the page.
set(QUELTRAVINE_SITE_URL "" CACHE STRING
  "the URL the site is served from, e.g. https://example.org/queltravine/ (default: relative links)")
# The poster frame is drawn by the native renderer (tools/build-web.sh builds one).
set(QUELTRAVINE_POSTER_RENDERER "" CACHE FILEPATH
  "a native queltravine-render, which draws the site's poster frame")
if(NOT EXISTS "${QUELTRAVINE_POSTER_RENDERER}")
  message(FATAL_ERROR "QUELTRAVINE_POSTER_RENDERER must name a native queltravine-render "
    "(tools/build-web.sh builds one and passes it)")
endif()
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

set(site_url "${QUELTRAVINE_SITE_URL}")
if(site_url AND NOT site_url MATCHES "/$")
  string(APPEND site_url "/")
endif()
set(og_url_tag "")
if(site_url)
  set(og_url_tag "<meta property=\"og:url\" content=\"${site_url}\">")
endif()
configure_file(platform/web/index.html ${site_dir}/index.html @ONLY)

set(site_sources page.js synth_worklet.js manifest.webmanifest)
set(site_files ${site_dir}/index.html)
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
foreach(size 192 512)
  add_custom_command(OUTPUT ${site_dir}/icon-${size}.png
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/icons/queltravine-${size}.png
            ${site_dir}/icon-${size}.png
    DEPENDS ${PROJECT_SOURCE_DIR}/data/icons/queltravine-${size}.png)
  list(APPEND site_files ${site_dir}/icon-${size}.png)
endforeach()
# The poster: the show at 25 s (the XOR pattern over the first scene's
# picture), frame 1,500 at 60 frames a second.
set(poster_frames ${CMAKE_BINARY_DIR}/poster)
list(TRANSFORM QUELTRAVINE_PICTURES PREPEND ${PROJECT_SOURCE_DIR}/data/ OUTPUT_VARIABLE picture_paths)
add_custom_command(OUTPUT ${site_dir}/poster.png
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${poster_frames}
  COMMAND ${QUELTRAVINE_POSTER_RENDERER} --pictures ${PROJECT_SOURCE_DIR}/data --from 25
          --seconds 25.02 --fps 60 --frames ${poster_frames}
  COMMAND ${CMAKE_COMMAND} -E copy ${poster_frames}/frame-001500.png ${site_dir}/poster.png
  DEPENDS ${QUELTRAVINE_POSTER_RENDERER} ${picture_paths})
list(APPEND site_files ${site_dir}/poster.png)

# The service worker, named by a hash of every other file of the site.
set(worker_files index.html page.js synth_worklet.js manifest.webmanifest queltravine.js
  queltravine.wasm synth.wasm poster.png icon-192.png icon-512.png ${QUELTRAVINE_PICTURES})
list(JOIN worker_files , worker_files)
add_custom_command(OUTPUT ${site_dir}/sw.js
  COMMAND ${CMAKE_COMMAND} -DSITE=${site_dir} -DTEMPLATE=${PROJECT_SOURCE_DIR}/platform/web/service_worker.js
          -DFILES=${worker_files} -P ${PROJECT_SOURCE_DIR}/cmake/site-worker.cmake
  DEPENDS ${site_files} queltravine-web queltravine-synth ${PROJECT_SOURCE_DIR}/platform/web/service_worker.js
          ${PROJECT_SOURCE_DIR}/cmake/site-worker.cmake)
list(APPEND site_files ${site_dir}/sw.js)

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

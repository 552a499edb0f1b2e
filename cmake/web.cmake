# The web build (emscripten, `cmake --preset web`): two WebAssembly modules
# without emscripten's JavaScript runtime, each answered by a script of ours
# in web/: velmora-page.wasm (the picture) and velmora-audio.wasm (the
# generator inside the audio worklet, made resumable by Asyncify), and the
# page's files, all in build/web/site. No threads, so no SharedArrayBuffer:
# any static host serves the site.
# The back-end (src/platform/web) and the state both modules share (src/app).
add_library(velmora_web STATIC src/platform/web/web_clock.cpp)
target_link_libraries(velmora_web PUBLIC velmora_core)
add_library(velmora_web_state STATIC src/app/state_snapshot.cpp)
target_link_libraries(velmora_web_state PUBLIC velmora_web)
add_library(velmora_baked_text STATIC src/platform/web/baked_text.cpp)
target_link_libraries(velmora_baked_text PUBLIC velmora_raster)

set(VELMORA_WASM_LINK --no-entry -sSTANDALONE_WASM -sERROR_ON_UNDEFINED_SYMBOLS=0
    -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=4194304 -sTOTAL_STACK=262144
    -sFILESYSTEM=0 -Wl,--gc-sections)
add_executable(velmora-page src/app/web_page_main.cpp)
target_link_libraries(velmora-page PRIVATE velmora_web_state velmora_baked_text)
add_executable(velmora-audio src/app/web_audio_main.cpp)
target_link_libraries(velmora-audio PRIVATE velmora_web_state)
foreach(module velmora-page velmora-audio)
  set_target_properties(${module} PROPERTIES SUFFIX ".wasm"
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/site)
  target_link_options(${module} PRIVATE ${VELMORA_WASM_LINK})
endforeach()
target_link_options(velmora-audio PRIVATE -sASYNCIFY "-sASYNCIFY_IMPORTS=[\"velmora.sleep\"]")

file(GLOB VELMORA_SITE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/*)
list(FILTER VELMORA_SITE_FILES EXCLUDE REGEX "/velmora-sw\\.js$")
set(VELMORA_SITE_COPIES)
foreach(file ${VELMORA_SITE_FILES})
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/site/${name}
                     COMMAND ${CMAKE_COMMAND} -E copy ${file} ${CMAKE_BINARY_DIR}/site/${name}
                     DEPENDS ${file})
  list(APPEND VELMORA_SITE_COPIES ${CMAKE_BINARY_DIR}/site/${name})
endforeach()
# The icons, the manifest and the service worker, whose list of files and
# digest are made last, from everything else in the site.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/site/velmora-sw.js
                          ${CMAKE_BINARY_DIR}/site/velmora.webmanifest
                   COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/scripts/web_site.py
                           ${PROJECT_SOURCE_DIR}/web/velmora-sw.js ${CMAKE_BINARY_DIR}/site
                   DEPENDS ${VELMORA_SITE_COPIES} velmora-page velmora-audio
                           ${PROJECT_SOURCE_DIR}/web/velmora-sw.js
                           ${PROJECT_SOURCE_DIR}/scripts/web_site.py)
add_custom_target(site ALL DEPENDS ${CMAKE_BINARY_DIR}/site/velmora-sw.js)

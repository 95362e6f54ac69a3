# The web site (VELMORA_PLATFORM web, built with emcmake): index.html, the intro
# (velmora.js and velmora.wasm) and the still mode that index.html?at=T loads
# (velmora-still.js and velmora-still.wasm), all in VELMORA_WEB_SITE. No threads and
# no special headers, so that any static host serves it.
set(VELMORA_WEB_SITE "${CMAKE_BINARY_DIR}/site" CACHE PATH "Folder the web site is built into")
configure_file(${CMAKE_SOURCE_DIR}/web/index.html ${VELMORA_WEB_SITE}/index.html COPYONLY)

if(NOT TARGET vm_display_web)
  message(STATUS "The web site is not built: the WebGL display is missing")
  return()
endif()

set(web_link_options
  -sENVIRONMENT=web -sFILESYSTEM=0 -sALLOW_MEMORY_GROWTH=1 --no-entry)

# The intro: WebGL display and device, html5.h window system and counter, Web Audio.
add_executable(velmora ${CMAKE_SOURCE_DIR}/app/main_web.cpp)
target_link_libraries(velmora PRIVATE vm_core vm_display_web vm_device_webgl vm_platform_web
                                      vm_counter_web vm_waveout_webaudio)
target_link_options(velmora PRIVATE ${web_link_options}
  -sEXPORTED_FUNCTIONS=_velmoraStart,_velmoraCard)
set_target_properties(velmora PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELMORA_WEB_SITE})

# The still mode: the same intro on the virtual counter and wave output, stepped as
# velmora-capture --at steps it.
add_executable(velmora-still ${CMAKE_SOURCE_DIR}/app/still_web.cpp
  ${CMAKE_SOURCE_DIR}/tools/capture/capture_options.cpp
  ${CMAKE_SOURCE_DIR}/tools/capture/capture_step.cpp)
target_link_libraries(velmora-still PRIVATE vm_core vm_display_web vm_device_webgl
                                            vm_platform_web vm_counter_virtual vm_waveout_virtual)
target_link_options(velmora-still PRIVATE ${web_link_options}
  -sEXPORTED_FUNCTIONS=_velmoraStill -sEXPORTED_RUNTIME_METHODS=ccall)
set_target_properties(velmora-still PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELMORA_WEB_SITE})

# Programs, defined after every folder so that all platform libraries exist.

if(VELMORA_PLATFORM STREQUAL "sdl")
  # The intro: OpenGL display and device, SDL window system, counter and wave output.
  add_executable(velmora ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_SOURCE_DIR}/app/run_stats.cpp)
  target_link_libraries(velmora PRIVATE vm_core vm_display_sdl vm_device_gl vm_platform_sdl
                                        vm_counter_sdl vm_waveout_sdl)
endif()

if(VELMORA_PLATFORM STREQUAL "win32")
endif()

if(VELMORA_PLATFORM STREQUAL "web")
  # The web site: index.html, the intro and its still mode.
  include(${CMAKE_SOURCE_DIR}/web/site.cmake)
endif()

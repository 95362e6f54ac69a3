# Programs, defined after every folder so that all platform libraries exist.

if(VELMORA_PLATFORM STREQUAL "sdl")
  # The intro: OpenGL display and device, SDL window system, counter and wave output.
  add_executable(velmora ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_SOURCE_DIR}/app/run_stats.cpp)
  target_link_libraries(velmora PRIVATE vm_core vm_display_sdl vm_device_gl vm_platform_sdl
                                        vm_counter_sdl vm_waveout_sdl)
endif()

if(VELMORA_PLATFORM STREQUAL "win32" AND TARGET vm_display_d3d8)
  # velmora.exe: Direct3D 8 display and device, Win32 window system, counter and
  # waveOut. A window program (no console); one self-contained file that imports only
  # Windows' own DLLs, d3d8.dll being loaded at run time.
  add_executable(velmora WIN32 ${CMAKE_SOURCE_DIR}/app/main_win32.cpp
                               ${CMAKE_SOURCE_DIR}/app/run_stats.cpp)
  target_link_libraries(velmora PRIVATE vm_core vm_display_d3d8 vm_device_d3d8 vm_platform_win32
                                        vm_counter_win32 vm_waveout_winmm)
  # Release builds are stripped: the file is what a user downloads.
  target_link_options(velmora PRIVATE $<$<CONFIG:Release>:-s>)
endif()

if(VELMORA_PLATFORM STREQUAL "web")
  # The web site: index.html, the intro and its still mode.
  include(${CMAKE_SOURCE_DIR}/web/site.cmake)
endif()

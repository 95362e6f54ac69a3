# Per-frame CPU time of the main scene's plugins on the recording display device.
add_executable(scene_plugins_bench
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_plugins.cpp)
target_link_libraries(scene_plugins_bench PRIVATE
  vm_core vm_device_record vm_counter_virtual vm_waveout_virtual benchmark::benchmark
  "$<TARGET_FILE:vm_device_record>")

# Frames per second of the whole main scene on the OpenGL device, vertical sync off,
# through the shell's own display creation: run it under scripts/with-xvfb.
add_executable(scene_fps_bench ${CMAKE_CURRENT_SOURCE_DIR}/scene_fps.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_start.cpp)
target_link_libraries(scene_fps_bench PRIVATE
  vm_core vm_display_sdl vm_device_gl vm_platform_sdl vm_counter_sdl vm_waveout_virtual
  benchmark::benchmark)

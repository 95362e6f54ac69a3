# Per-frame CPU time of the main scene's plugins on the recording display device.
add_executable(scene_plugins_bench
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_plugins.cpp)
target_link_libraries(scene_plugins_bench PRIVATE
  vm_core vm_device_record vm_counter_virtual vm_waveout_virtual benchmark::benchmark
  "$<TARGET_FILE:vm_device_record>")

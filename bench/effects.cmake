# Per-frame CPU time of the effects on the recording display device.
add_executable(effects_opening_panels_bench
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_opening_panels.cpp)
target_link_libraries(effects_opening_panels_bench PRIVATE
  vm_core vm_device_record vm_counter_virtual vm_waveout_virtual benchmark::benchmark
  "$<TARGET_FILE:vm_device_record>")

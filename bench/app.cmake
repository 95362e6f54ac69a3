# Application shell.

# The frame loop's own CPU work per frame, on the recording device.
add_executable(app_frame_bench ${CMAKE_CURRENT_SOURCE_DIR}/app_frame.cpp)
target_link_libraries(app_frame_bench PRIVATE
  vm_core vm_device_record vm_counter_virtual vm_platform_sdl vm_waveout_virtual
  benchmark::benchmark "$<TARGET_FILE:vm_device_record>")

# Process start to first presented frame; run app_first_frame_bench under
# scripts/with-xvfb. The child is the intro's start-up and one frame, linked as
# velmora is, so the shipped program carries no benchmark hook.
add_executable(app_first_frame_child ${CMAKE_CURRENT_SOURCE_DIR}/app_first_frame_child.cpp)
get_target_property(velmora_libraries velmora LINK_LIBRARIES)
target_link_libraries(app_first_frame_child PRIVATE ${velmora_libraries})
add_executable(app_first_frame_bench ${CMAKE_CURRENT_SOURCE_DIR}/app_first_frame.cpp)
target_link_libraries(app_first_frame_bench PRIVATE benchmark::benchmark)
target_compile_definitions(app_first_frame_bench PRIVATE
  VELMORA_FIRST_FRAME_CHILD="$<TARGET_FILE:app_first_frame_child>")
add_dependencies(app_first_frame_bench app_first_frame_child)

# The main scene's plugins (background, tube, text column) on the recording device.
# Static libraries that vm_core calls into are named again after it on the link line.
add_executable(scene_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_text_scroller.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_tube.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_backdrop.cpp)
target_link_libraries(scene_tests PRIVATE
  vm_core vm_device_record vm_counter_virtual vm_waveout_virtual GTest::gtest_main
  "$<TARGET_FILE:vm_device_record>")
gtest_discover_tests(scene_tests DISCOVERY_TIMEOUT 60)

# The same plugins drawn by the OpenGL device and read back inside the private X
# server; one program, so one X server serves every case.
add_executable(scene_display_tests ${CMAKE_CURRENT_SOURCE_DIR}/scene_display_test.cpp)
target_link_libraries(scene_display_tests PRIVATE
  vm_core vm_device_gl vm_counter_virtual vm_waveout_virtual GTest::gtest_main
  "$<TARGET_FILE:vm_device_gl>")
add_test(NAME scene_display
  COMMAND timeout -k 5 120 ${VELMORA_XVFB} $<TARGET_FILE:scene_display_tests>)
set_tests_properties(scene_display PROPERTIES
  LABELS display
  ENVIRONMENT "SDL_VIDEODRIVER=x11")

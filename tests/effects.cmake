# The visual effects, driven frame by frame on the recording display device.
# Static libraries that vm_core calls into are named again after it on the link line.
set(effects_test_libraries
  vm_core vm_device_record vm_counter_virtual vm_waveout_virtual GTest::gtest_main
  "$<TARGET_FILE:vm_device_record>")

add_executable(effects_opening_panels_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_picture_sequence.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_corner_panels.cpp)
target_link_libraries(effects_opening_panels_tests PRIVATE ${effects_test_libraries})
gtest_discover_tests(effects_opening_panels_tests DISCOVERY_TIMEOUT 60)

# The white-out and a flashing panel drawn by the OpenGL device and read back inside
# the private X server; one program, so one X server serves every case.
add_executable(effects_opening_panels_display_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_display_test.cpp)
target_link_libraries(effects_opening_panels_display_tests PRIVATE
  vm_core vm_device_gl vm_counter_virtual vm_waveout_virtual GTest::gtest_main
  "$<TARGET_FILE:vm_device_gl>")
add_test(NAME effects_opening_panels_display
  COMMAND timeout -k 5 120 ${VELMORA_XVFB} $<TARGET_FILE:effects_opening_panels_display_tests>)
set_tests_properties(effects_opening_panels_display PROPERTIES
  LABELS display
  ENVIRONMENT "SDL_VIDEODRIVER=x11")

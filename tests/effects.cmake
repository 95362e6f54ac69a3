# The visual effects: the opening, the corner panels and the main scene's plugins
# driven frame by frame on the recording device, then drawn by the OpenGL device and
# read back inside the private X server (one program, so one X server serves every
# case). Static libraries that vm_core calls into are named again after it.
add_executable(effects_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_picture_sequence.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_corner_panels.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_text_scroller.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_tube.cpp)
target_link_libraries(effects_tests PRIVATE vm_core vm_device_record vm_counter_virtual
  vm_waveout_virtual GTest::gtest_main "$<TARGET_FILE:vm_device_record>")
gtest_discover_tests(effects_tests DISCOVERY_TIMEOUT 60)

add_executable(effects_display_tests ${CMAKE_CURRENT_SOURCE_DIR}/effects_display_test.cpp)
target_link_libraries(effects_display_tests PRIVATE vm_core vm_device_gl vm_counter_virtual
  vm_waveout_virtual GTest::gtest_main "$<TARGET_FILE:vm_device_gl>")
add_test(NAME effects_display
  COMMAND timeout -k 5 120 ${VELMORA_XVFB} $<TARGET_FILE:effects_display_tests>)
set_tests_properties(effects_display PROPERTIES LABELS display ENVIRONMENT "SDL_VIDEODRIVER=x11")

# The visual effects: the opening, the corner panels and the main scene's plugins
# driven frame by frame on the recording device (what the OpenGL device makes of such
# draws is the gfx tests' part). Static libraries that vm_core calls into are named
# again after it on the link line.
add_executable(effects_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_picture_sequence.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/effects_corner_panels.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_text_scroller.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scene_tube.cpp)
target_link_libraries(effects_tests PRIVATE vm_core vm_device_record vm_counter_virtual
  vm_waveout_virtual GTest::gtest_main "$<TARGET_FILE:vm_device_record>")
gtest_discover_tests(effects_tests DISCOVERY_TIMEOUT 60)

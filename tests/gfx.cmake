# Display device and texture upload.
# Upload, the recording device's own rules and the texel conversion for WebGL, without a
# display.
add_executable(gfx_record_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/gfx_upload_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/gfx_record_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/gfx_texels_test.cpp)
target_link_libraries(gfx_record_tests PRIVATE vm_core vm_device_record GTest::gtest_main)
gtest_discover_tests(gfx_record_tests DISCOVERY_TIMEOUT 60)

# The OpenGL device, read back pixel by pixel inside the private X server. The whole
# program runs as one test so that one X server serves every case.
add_executable(gfx_gl_tests ${CMAKE_CURRENT_SOURCE_DIR}/gfx_gl_test.cpp
  ${PROJECT_SOURCE_DIR}/gfx/vertex_lighting.cpp)
target_link_libraries(gfx_gl_tests PRIVATE vm_core vm_device_gl GTest::gtest_main
                      "$<TARGET_FILE:vm_device_gl>")
add_test(NAME gfx_gl_device
  COMMAND timeout -k 5 120 ${VELMORA_XVFB} $<TARGET_FILE:gfx_gl_tests>)
set_tests_properties(gfx_gl_device PROPERTIES
  LABELS display
  ENVIRONMENT "SDL_VIDEODRIVER=x11")

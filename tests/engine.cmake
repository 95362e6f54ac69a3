# Song engine: songs built in memory and driven tick by tick through advanceSong.
add_executable(engine_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/engine_pitch_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/engine_play_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/engine_robust_test.cpp)
# The tempo effect reaches the output side, which needs a wave output; modules from the
# XM writer play through the loader and the block ring.
target_link_libraries(engine_tests PRIVATE vm_core vm_waveout_virtual vm_xmwriter
                      GTest::gtest_main)
gtest_discover_tests(engine_tests DISCOVERY_TIMEOUT 60)

# velmora-render as a whole process, on modules written with the XM writer, and its
# output against the stream the player renders in this process.
add_executable(engine_render_tests ${CMAKE_CURRENT_SOURCE_DIR}/engine_render_test.cpp)
target_link_libraries(engine_render_tests PRIVATE vm_core vm_waveout_virtual vm_xmwriter
                      GTest::gtest_main)
target_compile_definitions(engine_render_tests PRIVATE
  RENDER_TOOL="$<TARGET_FILE:velmora-render>")
add_dependencies(engine_render_tests velmora-render)
gtest_discover_tests(engine_render_tests DISCOVERY_TIMEOUT 60)

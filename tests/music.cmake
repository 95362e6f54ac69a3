# Module source and XM loader. Modules are built byte by byte with the XM writer.
add_executable(music_loader_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/music_module_source.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/music_loader.cpp)
# freeSong stops playback through the output side, which needs a wave output.
target_link_libraries(music_loader_tests PRIVATE vm_waveout_virtual vm_xmwriter
                      GTest::gtest_main)
gtest_discover_tests(music_loader_tests DISCOVERY_TIMEOUT 60)


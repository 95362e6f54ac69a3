# The intro's music: the composition (built here from the generator's music sources, which
# need neither FreeType nor libpng) and the measurements of its render through the player.
set(music_composition_sources
  ${CMAKE_SOURCE_DIR}/tools/generator/compose.cpp
  ${CMAKE_SOURCE_DIR}/tools/generator/music_instruments.cpp
  ${CMAKE_SOURCE_DIR}/tools/generator/music_score.cpp
  ${CMAKE_SOURCE_DIR}/tools/generator/music_synth.cpp)
add_executable(tools_music_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tools_music_content.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools_music_render.cpp
  ${music_composition_sources})
target_include_directories(tools_music_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/generator
  ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tools_music_tests PRIVATE vm_waveout_virtual vm_xmwriter GTest::gtest_main)
gtest_discover_tests(tools_music_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# velmora-render's output paths: files, links, devices, FIFOs, standard output, pipes.
add_test(NAME tools_render_output
  COMMAND timeout -k 5 120 bash ${CMAKE_CURRENT_SOURCE_DIR}/tools_render_output.sh
          $<TARGET_FILE:velmora-render> ${CMAKE_SOURCE_DIR}/assets/data/module.bin)
set_tests_properties(tools_render_output PROPERTIES TIMEOUT 150)

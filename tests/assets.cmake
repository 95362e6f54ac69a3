# Embedded assets: layouts, fixed data and stored texts; the regeneration comparison.
add_executable(assets_layout_tests ${CMAKE_CURRENT_SOURCE_DIR}/assets_layout_test.cpp)
target_link_libraries(assets_layout_tests PRIVATE vm_core GTest::gtest_main)
target_compile_definitions(assets_layout_tests PRIVATE VELMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(assets_layout_tests DISCOVERY_TIMEOUT 60)

# The generator's picture arithmetic, where the generator can be built.
if(TARGET velmora-assets)
  find_package(PNG QUIET) # imported targets are visible only where they were found
  add_executable(assets_raster_tests ${CMAKE_CURRENT_SOURCE_DIR}/assets_raster_test.cpp
    ${CMAKE_SOURCE_DIR}/tools/generator/raster.cpp)
  target_include_directories(assets_raster_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/generator)
  target_link_libraries(assets_raster_tests PRIVATE PNG::PNG GTest::gtest_main)
  gtest_discover_tests(assets_raster_tests DISCOVERY_TIMEOUT 60)
endif()

# The generator is optional (FreeType, libpng); without it the comparison skips itself.
add_executable(assets_regen_tests ${CMAKE_CURRENT_SOURCE_DIR}/assets_regen_test.cpp)
target_link_libraries(assets_regen_tests PRIVATE GTest::gtest_main)
if(TARGET velmora-assets)
  add_dependencies(assets_regen_tests velmora-assets)
  target_compile_definitions(assets_regen_tests PRIVATE
    VELMORA_GENERATOR="$<TARGET_FILE:velmora-assets>" VELMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
else()
  target_compile_definitions(assets_regen_tests PRIVATE
    VELMORA_GENERATOR="" VELMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
gtest_discover_tests(assets_regen_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

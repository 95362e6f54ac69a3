# Offline capture: its parts without a display, the tool's command line and files,
# and whole captures checked for determinism, sync and what the screens show.
# The captures use SDL's offscreen driver (OpenGL through Mesa's EGL): no X server.
if(NOT TARGET velmora-capture)
  return()
endif()

add_executable(capture_unit_tests ${CMAKE_CURRENT_SOURCE_DIR}/capture_units_test.cpp)
target_link_libraries(capture_unit_tests PRIVATE vm_capture GTest::gtest_main)
gtest_discover_tests(capture_unit_tests DISCOVERY_TIMEOUT 60)

# One 96 s capture in-process, checked by several tests: run as one program so that
# the capture is made once.
add_executable(capture_scene_tests ${CMAKE_CURRENT_SOURCE_DIR}/capture_scene_test.cpp)
target_link_libraries(capture_scene_tests PRIVATE vm_capture GTest::gtest_main)
add_test(NAME capture_scene COMMAND timeout -k 5 400 $<TARGET_FILE:capture_scene_tests>)
set_tests_properties(capture_scene PROPERTIES LABELS "nosan" TIMEOUT 420)

# The tool as a user runs it. The quick refusals also run under the sanitizers.
set(capture_tool_script ${CMAKE_CURRENT_SOURCE_DIR}/capture_tool.sh)
foreach(case refusals interrupt determinism video)
  add_test(NAME capture_tool_${case}
    COMMAND timeout -k 5 300 bash ${capture_tool_script} ${case} $<TARGET_FILE:velmora-capture>)
  set_tests_properties(capture_tool_${case} PROPERTIES TIMEOUT 320 SKIP_RETURN_CODE 77)
endforeach()
set_tests_properties(capture_tool_interrupt capture_tool_determinism capture_tool_video
  PROPERTIES LABELS "nosan")

# Application shell: frame clock, random numbers, memory and math, the window
# procedure, display selection, the shell against logging stand-ins, and the built
# intro end to end inside a private X server.

# Platform-free units, driven by the virtual counter.
add_executable(app_unit_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/app_clock_random_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/app_memory_math_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/app_window_display_test.cpp)
target_link_libraries(app_unit_tests PRIVATE vm_core vm_counter_virtual SDL2::SDL2
                                             GTest::gtest_main)
gtest_discover_tests(app_unit_tests DISCOVERY_TIMEOUT 60)

# The shell with every neighbour replaced by a stand-in defined in the test itself.
add_executable(app_shell_tests ${CMAKE_CURRENT_SOURCE_DIR}/app_shell_test.cpp)
target_link_libraries(app_shell_tests PRIVATE vm_core vm_counter_virtual GTest::gtest_main)
gtest_discover_tests(app_shell_tests DISCOVERY_TIMEOUT 60)

# The built intro, end to end. Each case gets its own X server (the fallback case a
# 1024 x 600 one of its own); sound goes to SDL's dummy driver unless the case is
# about a sound output that cannot be opened.
set(app_e2e ${CMAKE_CURRENT_SOURCE_DIR}/app_end_to_end.sh)
foreach(case escape focus sigterm quillon)
  add_test(NAME app_e2e_${case}
    COMMAND timeout -k 5 90 ${VELMORA_XVFB} bash ${app_e2e} ${case} $<TARGET_FILE:velmora>)
  set_tests_properties(app_e2e_${case} PROPERTIES LABELS "display;nosan" TIMEOUT 120)
endforeach()
# Under a window manager (evilwm); skipped where it is not installed.
add_test(NAME app_e2e_managed
  COMMAND timeout -k 5 90 ${VELMORA_XVFB} bash ${app_e2e} managed $<TARGET_FILE:velmora>)
set_tests_properties(app_e2e_managed PROPERTIES
  LABELS "display;nosan" TIMEOUT 120 SKIP_RETURN_CODE 77)
add_test(NAME app_e2e_fallback
  COMMAND timeout -k 5 90 bash ${app_e2e} fallback $<TARGET_FILE:velmora>)
set_tests_properties(app_e2e_fallback PROPERTIES LABELS "display;nosan" TIMEOUT 120)
# No X server at all: the message on stderr and code 1 (also under the sanitizers).
add_test(NAME app_e2e_no_display
  COMMAND timeout -k 5 60 bash ${app_e2e} no-display $<TARGET_FILE:velmora>)

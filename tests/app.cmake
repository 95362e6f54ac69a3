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

# The built intro, end to end, also when something it needs is missing and under
# signals. Each case gets its own X server (the fallback case a 1024 x 600 one of its
# own); sound goes to SDL's dummy driver unless the case is about a sound output that
# cannot be opened. Cases under a window manager (evilwm) are skipped without it.
set(app_e2e ${CMAKE_CURRENT_SOURCE_DIR}/app_end_to_end.sh)
foreach(case escape focus sigterm sigint managed quillon quillon-managed quillon-sigterm
             no-gl21 no-gl21-sigterm fallback no-display no-server)
  set(xvfb ${VELMORA_XVFB})
  if(case MATCHES "^(fallback|no-display|no-server)$")
    set(xvfb "") # a server of its own, or none
  endif()
  add_test(NAME app_e2e_${case}
    COMMAND timeout -k 5 90 ${xvfb} bash ${app_e2e} ${case} $<TARGET_FILE:velmora>)
  set_tests_properties(app_e2e_${case} PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
  if(NOT case MATCHES "^no-(display|server)$") # without an X server: sanitizers too
    set_tests_properties(app_e2e_${case} PROPERTIES LABELS "display;nosan")
  endif()
endforeach()

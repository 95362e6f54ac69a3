# Reliability: the fuzz corpus replayed, start-up faults and the output falling
# behind. The built intro without sound, display or OpenGL 2.1, and under signals,
# is among the end-to-end cases of app.cmake.

# Every committed fuzz input (and every input that ever failed) through the player.
set(fuzz_inputs ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/failures)
  list(APPEND fuzz_inputs ${CMAKE_SOURCE_DIR}/tests/fuzz/failures)
endif()
add_test(NAME reliability_fuzz_corpus
  COMMAND timeout -k 5 600 $<TARGET_FILE:velmora-fuzz-replay> ${fuzz_inputs})
set_tests_properties(reliability_fuzz_corpus PROPERTIES TIMEOUT 650)

# The shell and the real plugins on the recording device, each init call failing in
# turn. Memory blocks are counted through wrapped allocation functions.
add_executable(reliability_plugin_fault_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/reliability_plugin_faults.cpp)
target_link_libraries(reliability_plugin_fault_tests PRIVATE
  vm_core vm_device_record vm_counter_virtual vm_waveout_virtual GTest::gtest_main
  "$<TARGET_FILE:vm_device_record>")
target_link_options(reliability_plugin_fault_tests PRIVATE -Wl,--wrap=_Z10allocBlocki
  -Wl,--wrap=_Z10allocArrayii -Wl,--wrap=_Z9freeBlockPv)
gtest_discover_tests(reliability_plugin_fault_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# The device getting more than a ring ahead of the mixing thread (virtual output).
add_executable(reliability_audio_tests ${CMAKE_CURRENT_SOURCE_DIR}/reliability_audio_late.cpp)
target_link_libraries(reliability_audio_tests PRIVATE vm_waveout_virtual GTest::gtest_main)
gtest_discover_tests(reliability_audio_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threads)
add_dependencies(tsan_tests reliability_audio_tests)

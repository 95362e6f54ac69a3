# Reliability: the fuzz corpus replayed, start-up faults, the output falling behind,
# and the built intro without sound, display or OpenGL 2.1, and under signals.

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

# The built intro without a sound output, an X server or OpenGL 2.1, and under SIGINT
# and SIGTERM. Each display case gets its own X server.
set(reliability_faults ${CMAKE_CURRENT_SOURCE_DIR}/reliability_faults.sh)
foreach(case no-sound no-gl21 sigint sigterm)
  add_test(NAME reliability_${case}
    COMMAND timeout -k 5 90 ${VELMORA_XVFB} bash ${reliability_faults} ${case} $<TARGET_FILE:velmora>)
  set_tests_properties(reliability_${case} PROPERTIES LABELS "display;nosan" TIMEOUT 120)
endforeach()
add_test(NAME reliability_no-server
  COMMAND timeout -k 5 60 bash ${reliability_faults} no-server $<TARGET_FILE:velmora>)

# Audio output: the mixer, the block ring over the virtual wave output (with and
# without the mixing thread), the sync queries and the SDL wave output.
add_executable(audio_mixer_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio_mixer.cpp)
target_link_libraries(audio_mixer_tests PRIVATE vm_waveout_virtual GTest::gtest_main)
gtest_discover_tests(audio_mixer_tests)

add_executable(audio_output_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio_output.cpp
                                  ${CMAKE_CURRENT_SOURCE_DIR}/audio_sync.cpp)
target_link_libraries(audio_output_tests PRIVATE vm_waveout_virtual vm_xmwriter GTest::gtest_main)
gtest_discover_tests(audio_output_tests)

# The mixing thread: also built and run under ThreadSanitizer. allocBlock and
# allocArray are wrapped so the test can see allocations made on the mixing thread.
add_executable(audio_thread_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio_thread.cpp)
target_link_libraries(audio_thread_tests PRIVATE vm_waveout_virtual GTest::gtest_main)
target_link_options(audio_thread_tests PRIVATE -Wl,--wrap=_Z10allocBlocki
                    -Wl,--wrap=_Z10allocArrayii)
gtest_discover_tests(audio_thread_tests PROPERTIES LABELS threads)
add_dependencies(tsan_tests audio_thread_tests)

# Audio output: the mixer, the block ring and sync queries over the virtual wave
# output, the mixing thread, and the SDL wave output.
add_executable(audio_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio_mixer.cpp
                           ${CMAKE_CURRENT_SOURCE_DIR}/audio_mixer_loops.cpp
                           ${CMAKE_CURRENT_SOURCE_DIR}/audio_output.cpp)
target_link_libraries(audio_tests PRIVATE vm_waveout_virtual GTest::gtest_main)
gtest_discover_tests(audio_tests)

# Threaded tests, also built and run under ThreadSanitizer. allocBlock and allocArray
# are wrapped so that the test sees allocations made on the mixing thread.
add_executable(audio_thread_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio_thread.cpp)
target_link_libraries(audio_thread_tests PRIVATE vm_waveout_virtual GTest::gtest_main)
target_link_options(audio_thread_tests PRIVATE -Wl,--wrap=_Z10allocBlocki
                    -Wl,--wrap=_Z10allocArrayii)
gtest_discover_tests(audio_thread_tests PROPERTIES LABELS threads)
add_dependencies(tsan_tests audio_thread_tests)

# SDL starts an audio thread of its own.
add_executable(audio_sdl_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio_sdl.cpp)
target_link_libraries(audio_sdl_tests PRIVATE vm_waveout_sdl GTest::gtest_main)
gtest_discover_tests(audio_sdl_tests PROPERTIES LABELS threads)
add_dependencies(tsan_tests audio_sdl_tests)

# Mixer throughput and the prefill of the ring.
add_executable(audio_bench ${CMAKE_CURRENT_SOURCE_DIR}/audio_mixer.cpp)
target_link_libraries(audio_bench PRIVATE vm_waveout_virtual benchmark::benchmark)

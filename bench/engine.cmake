# Song engine: one tick for 32 busy channels.
add_executable(engine_tick_bench ${CMAKE_CURRENT_SOURCE_DIR}/engine_tick.cpp)
target_link_libraries(engine_tick_bench PRIVATE vm_core vm_waveout_virtual benchmark::benchmark)

# The whole player as a process: velmora-render on a busy 20-channel module.
add_executable(engine_render_bench ${CMAKE_CURRENT_SOURCE_DIR}/engine_render.cpp)
target_link_libraries(engine_render_bench PRIVATE vm_xmwriter benchmark::benchmark)
target_compile_definitions(engine_render_bench PRIVATE
  RENDER_TOOL="$<TARGET_FILE:velmora-render>")
add_dependencies(engine_render_bench velmora-render)

# Offline capture: PNG writing, and the whole tool over 60 s of the intro.
if(TARGET velmora-capture)
  add_executable(capture_bench ${CMAKE_CURRENT_SOURCE_DIR}/capture_bench.cpp)
  target_link_libraries(capture_bench PRIVATE vm_capture benchmark::benchmark)
  target_compile_definitions(capture_bench PRIVATE
    VELMORA_CAPTURE_TOOL="$<TARGET_FILE:velmora-capture>")
  add_dependencies(capture_bench velmora-capture)
endif()

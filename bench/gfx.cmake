# Texture upload and the recording device's own cost, without a display.
add_executable(gfx_record_bench ${CMAKE_CURRENT_SOURCE_DIR}/gfx_record.cpp)
target_link_libraries(gfx_record_bench PRIVATE vm_core vm_device_record benchmark::benchmark)

# The OpenGL device on Mesa's software renderer: run it under scripts/with-xvfb.
add_executable(gfx_gl_bench ${CMAKE_CURRENT_SOURCE_DIR}/gfx_gl_device.cpp)
target_link_libraries(gfx_gl_bench PRIVATE vm_core vm_device_gl benchmark::benchmark)

# Frames per second of the main scene on the Direct3D 8 device, as velmora.exe is
# linked but with the virtual wave output: run it with bench/windows_fps.sh.
add_executable(scene_fps_windows ${CMAKE_CURRENT_LIST_DIR}/scene_fps_windows.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/scene_start.cpp)
target_link_libraries(scene_fps_windows PRIVATE vm_core vm_display_d3d8 vm_device_d3d8
                                                vm_platform_win32 vm_counter_win32
                                                vm_waveout_virtual)

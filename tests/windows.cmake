# The Windows build's tests: the platform-free unit tests, cross-built and run under
# Wine (CTest starts each through CMAKE_CROSSCOMPILING_EMULATOR), and the exe itself
# end to end under Wine and Xvfb. One Wine prefix under the build tree serves the
# whole run; the first test makes it, the others wait for it.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "Windows tests are not run: Wine is missing")
  return()
endif()
get_filename_component(wine_directory ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)
find_program(VELMORA_WINESERVER NAMES wineserver64 wineserver HINTS ${wine_directory})
set(VELMORA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
# No mono or gecko set-up dialogs; no debug channels.
set(windows_test_environment
  "WINEPREFIX=${VELMORA_WINE_PREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")

add_test(NAME windows_wine_prefix
  COMMAND timeout -k 5 240 ${CMAKE_COMMAND} -E env ${windows_test_environment} DISPLAY=
          ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
set_tests_properties(windows_wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 260)

# GoogleTest from Debian's sources (libgtest-dev), built for the target.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(NOT TARGET GTest::gtest_main)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

# A unit test program, run as one test under Wine: starting Wine once per case would
# cost more than the cases.
function(windows_unit_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES;OPTIONS" ${ARGN})
  list(TRANSFORM arg_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  target_link_options(${name} PRIVATE ${arg_OPTIONS})
  add_test(NAME windows_${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(windows_${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 300
    ENVIRONMENT "${windows_test_environment};DISPLAY=")
endfunction()

# The archives vm_core calls into, named again after it on the link line.
set(recording_libraries vm_core vm_device_record vm_counter_virtual vm_waveout_virtual
  "$<TARGET_FILE:vm_device_record>")

windows_unit_test(app_unit_tests
  SOURCES app_clock_random_test.cpp app_memory_math_test.cpp
  LIBRARIES vm_core vm_counter_virtual)
windows_unit_test(app_shell_tests SOURCES app_shell_test.cpp LIBRARIES vm_core vm_counter_virtual)
windows_unit_test(audio_tests
  SOURCES audio_mixer.cpp audio_mixer_loops.cpp audio_output.cpp
  LIBRARIES vm_waveout_virtual)
windows_unit_test(audio_thread_tests SOURCES audio_thread.cpp LIBRARIES vm_waveout_virtual
  OPTIONS -Wl,--wrap=_Z10allocBlocki -Wl,--wrap=_Z10allocArrayii)
windows_unit_test(engine_tests
  SOURCES engine_pitch_test.cpp engine_play_test.cpp engine_robust_test.cpp
  LIBRARIES vm_core vm_waveout_virtual)
windows_unit_test(music_loader_tests
  SOURCES music_module_source.cpp music_loader.cpp music_loader_malformed.cpp
  LIBRARIES vm_waveout_virtual vm_xmwriter)
windows_unit_test(effects_tests
  SOURCES effects_picture_sequence.cpp effects_corner_panels.cpp scene_text_scroller.cpp
          scene_tube.cpp
  LIBRARIES ${recording_libraries})
windows_unit_test(gfx_record_tests SOURCES gfx_upload_test.cpp gfx_record_test.cpp
  LIBRARIES vm_core vm_device_record)

# The same music on both platforms: the first minute of the embedded module rendered
# by this build under Wine and by the Linux build named in VELMORA_HOST_BUILD (its
# tests/music_pcm_dump), byte for byte. Skipped without a Linux build to compare with.
add_executable(music_pcm_dump ${CMAKE_CURRENT_SOURCE_DIR}/music_pcm_dump.cpp)
target_link_libraries(music_pcm_dump PRIVATE vm_core vm_waveout_virtual)
set(VELMORA_HOST_BUILD "" CACHE PATH "A Linux build tree whose music render this build is compared with")
add_test(NAME windows_music_identity
  COMMAND timeout -k 5 240 bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_music_identity.sh
          "${VELMORA_HOST_BUILD}" ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:music_pcm_dump>)
set_tests_properties(windows_music_identity PROPERTIES FIXTURES_REQUIRED wine_prefix
  TIMEOUT 260 SKIP_RETURN_CODE 77 ENVIRONMENT "${windows_test_environment};DISPLAY=")

# Device parity: four moments drawn through Direct3D 8 by velmora-capture.exe under
# Wine and through OpenGL by the Linux velmora-capture of VELMORA_HOST_BUILD must
# agree; the pictures stay in device-parity/ in the build tree. Skipped without a
# Linux build to compare with.
if(TARGET velmora-capture)
  add_executable(picture_difference ${CMAKE_CURRENT_SOURCE_DIR}/picture_difference.cpp)
  target_include_directories(picture_difference SYSTEM PRIVATE ${VELMORA_STB_INCLUDE})
  add_test(NAME windows_device_parity
    COMMAND timeout -k 5 500 ${VELMORA_XVFB} bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_device_parity.sh
            "${VELMORA_HOST_BUILD}" ${CMAKE_CROSSCOMPILING_EMULATOR} ${VELMORA_WINESERVER}
            $<TARGET_FILE:velmora-capture> $<TARGET_FILE:picture_difference>
            ${CMAKE_BINARY_DIR}/device-parity)
  set_tests_properties(windows_device_parity PROPERTIES FIXTURES_REQUIRED wine_prefix
    RUN_SERIAL TRUE LABELS display TIMEOUT 520 SKIP_RETURN_CODE 77
    ENVIRONMENT "${windows_test_environment}")
endif()

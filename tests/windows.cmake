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
          bash -c "\"$0\" wineboot --init && \"$1\" -w" ${CMAKE_CROSSCOMPILING_EMULATOR}
          ${VELMORA_WINESERVER})
set_tests_properties(windows_wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 260)

# GoogleTest from Debian's sources (libgtest-dev), built for the target.
if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  message(STATUS "Windows tests are not built: GoogleTest's sources (libgtest-dev) are missing")
  return()
endif()
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
  LIBRARIES vm_core vm_waveout_virtual vm_xmwriter)
windows_unit_test(music_loader_tests
  SOURCES music_module_source.cpp music_loader.cpp
  LIBRARIES vm_waveout_virtual vm_xmwriter)
windows_unit_test(effects_tests
  SOURCES effects_picture_sequence.cpp effects_corner_panels.cpp scene_text_scroller.cpp
          scene_tube.cpp
  LIBRARIES ${recording_libraries})
windows_unit_test(gfx_record_tests SOURCES gfx_upload_test.cpp gfx_record_test.cpp
  LIBRARIES vm_core vm_device_record)
windows_unit_test(assets_layout_tests SOURCES assets_layout_test.cpp LIBRARIES vm_core)
target_compile_definitions(assets_layout_tests PRIVATE VELMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
windows_unit_test(reliability_audio_tests SOURCES reliability_audio_late.cpp
  LIBRARIES vm_waveout_virtual)
# The composition as the asset generator writes it, and the measures of its render.
windows_unit_test(tools_music_tests
  SOURCES tools_music_content.cpp tools_music_render.cpp ../tools/generator/compose.cpp
          ../tools/generator/music_instruments.cpp ../tools/generator/music_score.cpp
          ../tools/generator/music_synth.cpp
  LIBRARIES vm_waveout_virtual vm_xmwriter)
target_include_directories(tools_music_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/generator
  ${CMAKE_CURRENT_SOURCE_DIR})

# The same music on both platforms: the first two minutes of the embedded module
# rendered by this build under Wine and by the Linux build named in VELMORA_HOST_BUILD,
# byte for byte. Skipped without a Linux build to compare with.
set(VELMORA_HOST_BUILD "" CACHE PATH "A Linux build tree whose music render this build is compared with")
add_test(NAME windows_music_identity
  COMMAND timeout -k 5 240 bash ${CMAKE_CURRENT_SOURCE_DIR}/music_identity.sh
          "${VELMORA_HOST_BUILD}" ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:music_pcm_dump>)
set_tests_properties(windows_music_identity PROPERTIES FIXTURES_REQUIRED wine_prefix
  TIMEOUT 260 SKIP_RETURN_CODE 77 ENVIRONMENT "${windows_test_environment};DISPLAY=")

# velmora.exe end to end under Wine, each case in an X server of its own (Direct3D 8
# through Wine on Mesa's llvmpipe). Each case ends by stopping the prefix's Wine server,
# so the cases run alone. Screenshots go to windows-screens/ in the build tree.
if(TARGET velmora)
  foreach(case scenes deactivate no-direct3d no-sound)
    add_test(NAME windows_e2e_${case}
      COMMAND timeout -k 5 200 ${VELMORA_XVFB} bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_end_to_end.sh
              ${case} ${CMAKE_CROSSCOMPILING_EMULATOR} ${VELMORA_WINESERVER}
              $<TARGET_FILE:velmora> ${CMAKE_BINARY_DIR}/windows-screens)
    set_tests_properties(windows_e2e_${case} PROPERTIES FIXTURES_REQUIRED wine_prefix
      RUN_SERIAL TRUE LABELS display TIMEOUT 220 ENVIRONMENT "${windows_test_environment}")
  endforeach()

  # Only Windows' own DLLs are imported; the compiler's runtimes are linked in and
  # d3d8.dll is loaded at run time.
  add_test(NAME windows_exe_imports
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:velmora>)
endif()

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

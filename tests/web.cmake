# The web build's tests (VELMORA_PLATFORM web): the player under node against the
# native build's, and the page in headless Chromium (tests/web, puppeteer-core
# driving the system Chromium). The native programs compared with come from
# VELMORA_NATIVE_BUILD, a Linux build of the same tree (scripts/test passes its plain
# build); without it only the page's own tests run. The site must have been built
# (scripts/build-web).
set(VELMORA_NATIVE_BUILD "" CACHE PATH "A Linux build of this tree, for comparing the web build with")
find_program(VELMORA_NODE node)
find_program(VELMORA_NPM npm)
if(NOT VELMORA_NODE OR NOT VELMORA_NPM)
  message(STATUS "The web tests are left out: node and npm are needed (scripts/deps)")
  return()
endif()
set(web_tests ${CMAKE_CURRENT_SOURCE_DIR}/web)

# The player under node against the Linux build's, byte for byte (skipped without one).
add_test(NAME web_music_identity COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/music_identity.sh
  "${VELMORA_NATIVE_BUILD}" ${VELMORA_NODE} $<TARGET_FILE:music_pcm_dump>)
set_tests_properties(web_music_identity PROPERTIES TIMEOUT 240 SKIP_RETURN_CODE 77)

# puppeteer-core as package-lock.json pins it, into tests/web/node_modules.
add_test(NAME web_node_modules
  COMMAND timeout 300 ${VELMORA_NPM} ci --no-audit --no-fund --loglevel=error
  WORKING_DIRECTORY ${web_tests})
set_tests_properties(web_node_modules PROPERTIES FIXTURES_SETUP web_node_modules TIMEOUT 320)

add_test(NAME web_live
  COMMAND timeout -k 5 400 ${VELMORA_NODE} ${web_tests}/live_test.js --site ${VELMORA_WEB_SITE}
  WORKING_DIRECTORY ${web_tests})
set_tests_properties(web_live PROPERTIES FIXTURES_REQUIRED web_node_modules TIMEOUT 420
  LABELS browser RUN_SERIAL TRUE)

if(VELMORA_NATIVE_BUILD)
  # Stills of the page's still mode (index.html?at=T) against velmora-capture --at frames
  # of the same moments; both pictures of each moment stay in web-stills/.
  add_test(NAME web_stills
    COMMAND timeout -k 5 900 ${VELMORA_NODE} ${web_tests}/stills_test.js --site ${VELMORA_WEB_SITE}
            --capture ${VELMORA_NATIVE_BUILD}/tools/capture/velmora-capture
            --keep ${CMAKE_CURRENT_BINARY_DIR}/web-stills)
  set_tests_properties(web_stills PROPERTIES FIXTURES_REQUIRED web_node_modules TIMEOUT 920
    LABELS browser RUN_SERIAL TRUE)
endif()

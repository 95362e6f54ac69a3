# Cross-builds the Windows programs with Debian's mingw-w64 (posix thread model, which
# gives std::thread) and runs them under Wine where a build or a test needs to:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/windows-mingw.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_ASM_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the compiler's runtimes (libstdc++, libgcc,
# winpthread) are linked in, so that only Windows' own DLLs are imported.
# No link time in the PE header, so that the same sources give the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

set(VELMORA_PLATFORM "win32" CACHE STRING "Platform backends: sdl (Linux), win32 or web" FORCE)

# Wine runs the cross-built tests. Debian's wine64 without its recommended packages
# has no `wine` wrapper, only the loader.
find_program(VELMORA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VELMORA_WINE)
  find_program(VELMORA_WINE NAMES wine64 wine)
endif()
if(VELMORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_WINE})
endif()

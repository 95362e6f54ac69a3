# The Windows build's tests: the platform-free unit tests, cross-built and run under
# Wine (CMAKE_CROSSCOMPILING_EMULATOR).

# Cross-compiling klavor.exe for 32-bit desktop Windows with mingw-w64.
# Compile and link only here: there is no 32-bit Wine to run it on.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KLAVOR_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

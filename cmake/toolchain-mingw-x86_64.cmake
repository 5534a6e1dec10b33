# Cross-compiling klavor.exe for 64-bit desktop Windows with mingw-w64.
# This is the build that runs under Wine (Debian's wine is 64-bit only).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KLAVOR_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

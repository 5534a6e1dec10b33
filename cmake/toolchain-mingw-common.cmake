# Shared by the mingw-w64 toolchain files; they set KLAVOR_MINGW_PREFIX.

# Debian ships a -win32 and a -posix thread model; the program has one
# thread, so the win32 one is preferred: it needs no winpthread.
find_program(KLAVOR_MINGW_CXX NAMES ${KLAVOR_MINGW_PREFIX}-g++-win32 ${KLAVOR_MINGW_PREFIX}-g++)
find_program(KLAVOR_MINGW_WINDRES NAMES ${KLAVOR_MINGW_PREFIX}-windres)
if(NOT KLAVOR_MINGW_CXX OR NOT KLAVOR_MINGW_WINDRES)
  message(FATAL_ERROR "${KLAVOR_MINGW_PREFIX}-g++ and ${KLAVOR_MINGW_PREFIX}-windres are needed "
                      "(Debian packages g++-mingw-w64-x86-64, g++-mingw-w64-i686)")
endif()

set(CMAKE_CXX_COMPILER ${KLAVOR_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KLAVOR_MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/${KLAVOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

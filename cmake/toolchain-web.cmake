# The configurator page: the project compiled to WebAssembly by emscripten
# (Debian's package; em-config says where it lives).
find_program(KLAVOR_EM_CONFIG em-config)
if(KLAVOR_EM_CONFIG)
  execute_process(COMMAND ${KLAVOR_EM_CONFIG} EMSCRIPTEN_ROOT OUTPUT_VARIABLE KLAVOR_EMSCRIPTEN_ROOT
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE em_config_result)
endif()
if(NOT KLAVOR_EMSCRIPTEN_ROOT OR NOT EXISTS ${KLAVOR_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
  set(KLAVOR_EMSCRIPTEN_ROOT /usr/share/emscripten)
endif()
include(${KLAVOR_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)

# Debian's emscripten finds its JavaScript parser (acorn) only under
# /usr/share/nodejs, and Node does not look there by itself.
set(ENV{NODE_PATH} /usr/share/nodejs)
set(CMAKE_CXX_COMPILER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)

# Compiler settings shared by every target.

# The version, from project() in CMakeLists.txt and nowhere else: the About
# box, the page and the release folder's names take it from here.
add_compile_definitions(KLAVOR_VERSION="${PROJECT_VERSION}")

set(KLAVOR_WARNINGS -Wall -Wextra -Wpedantic -Wshadow)
if(KLAVOR_WERROR)
  list(APPEND KLAVOR_WARNINGS -Werror)
endif()

# The program itself (engine/, app/): C++11 without exceptions or RTTI, so
# that old device toolchains can take it.
function(klavor_program_settings target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 11 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE ${KLAVOR_WARNINGS} -fno-exceptions -fno-rtti)
  if(NOT WIN32 AND NOT KLAVOR_PHONE)
    # The simulated phone ends a run by unwinding out of a waiting call.
    # (The phone build has no unwinder, and its assembly filter would
    # reject the tables.)
    target_compile_options(${target} PRIVATE -funwind-tables)
  endif()
endfunction()

# Everything else (platform/, tools/, tests/): modern C++.
function(klavor_tool_settings target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE ${KLAVOR_WARNINGS})
  if(EMSCRIPTEN)
    # emscripten leaves exceptions out unless asked; the text parser uses them.
    target_compile_options(${target} PRIVATE -fexceptions)
  endif()
endfunction()

# klavor.exe for desktop Windows, cross-built with mingw-w64 (see the
# toolchain files next to this one), and the setup program klavor_setup.dll. The same engine/ and app/ sources as
# the phone build; app/ce_bridge.h covers what desktop Windows lacks.

enable_language(RC)

add_executable(klavor
  engine/key_table.cpp engine/load_key_table.cpp engine/capture.cpp engine/sequence.cpp
  app/main.cpp app/tray.cpp
  res/klavor.rc)
target_include_directories(klavor PRIVATE ${PROJECT_SOURCE_DIR})
klavor_program_settings(klavor)
# engine/ includes only <windows.h>; the desktop differences it runs into
# (the registry's access mask) are bridged by the shell's header, which is
# put in front of the engine's sources here rather than named in them.
set_property(SOURCE engine/key_table.cpp engine/load_key_table.cpp engine/capture.cpp engine/sequence.cpp APPEND PROPERTY
  COMPILE_OPTIONS -include ${PROJECT_SOURCE_DIR}/app/ce_bridge.h)
target_compile_definitions(klavor PRIVATE UNICODE _UNICODE)
# wWinMain is the entry point; -static because Wine ends a program whose
# libstdc++-6.dll is missing with exit code 53 and no message at all.
target_link_options(klavor PRIVATE -municode -mwindows -static)
target_link_libraries(klavor PRIVATE user32 gdi32 shell32 advapi32)
set_property(SOURCE res/klavor.rc APPEND PROPERTY OBJECT_DEPENDS
  ${PROJECT_SOURCE_DIR}/res/resource.h
  ${PROJECT_SOURCE_DIR}/res/klavor.ico
  ${PROJECT_SOURCE_DIR}/res/volume_up.ico
  ${PROJECT_SOURCE_DIR}/res/volume_down.ico
  ${PROJECT_SOURCE_DIR}/res/green.ico
  ${PROJECT_SOURCE_DIR}/res/red.ico)

# klavor_setup.dll, the cabinet's setup program, from the same source as
# the phone's, exporting the same four names (the .def); the driver loads it
# under Wine. -static: no mingw DLL beside it.
add_library(klavor_setup SHARED setup/klavor_setup.cpp setup/klavor_setup.def)
set_target_properties(klavor_setup PROPERTIES PREFIX "")
target_include_directories(klavor_setup PRIVATE ${PROJECT_SOURCE_DIR})
klavor_program_settings(klavor_setup)
target_compile_definitions(klavor_setup PRIVATE UNICODE _UNICODE)
target_link_options(klavor_setup PRIVATE -static)
target_link_libraries(klavor_setup PRIVATE user32)

# The end-to-end driver: it plays the phone application under Wine.
add_subdirectory(tests/wine/windows)

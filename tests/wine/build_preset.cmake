# Configures and builds one preset (desktop or phone), as a test step:
#   cmake -D PRESET=mingw64 -P build_preset.cmake   (from the source folder)
if(NOT PRESET)
  message(FATAL_ERROR "PRESET is not set")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --preset ${PRESET} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build --preset ${PRESET} COMMAND_ERROR_IS_FATAL ANY)

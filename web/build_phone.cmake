# Brings the phone build (build/phone, the phone preset) up to date, for the
# klavor.exe the page carries:  cmake -D SOURCE=<source folder> -P build_phone.cmake
if(NOT EXISTS ${SOURCE}/build/phone/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} --preset phone WORKING_DIRECTORY ${SOURCE} COMMAND_ERROR_IS_FATAL ANY)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build --preset phone WORKING_DIRECTORY ${SOURCE} COMMAND_ERROR_IS_FATAL ANY)

# Brings the phone build (build/phone, the phone preset) up to date, for the
# klavor.exe the page carries:  cmake -D SOURCE=<source folder> -P build_phone.cmake
if(NOT EXISTS ${SOURCE}/build/phone/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} --preset phone WORKING_DIRECTORY ${SOURCE} COMMAND_ERROR_IS_FATAL ANY)
endif()
# Its own make, not a sub-make of this build's: the preset sets its own jobs.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL
                        ${CMAKE_COMMAND} --build --preset phone
                WORKING_DIRECTORY ${SOURCE} COMMAND_ERROR_IS_FATAL ANY)

# Builds the phone's klavor.exe again in another folder and checks that it
# is byte for byte the one already built:
#   cmake -D SOURCE=... -D TOOLCHAIN=... -D BINARY=... -D EXPECTED=... -P rebuild_and_compare.cmake
foreach(var SOURCE TOOLCHAIN BINARY EXPECTED)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE "${BINARY}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${BINARY}" -G "Unix Makefiles"
                        -D CMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -D CMAKE_BUILD_TYPE=MinSizeRel
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY}" -j 2 COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${EXPECTED}" "${BINARY}/klavor.exe"
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${BINARY}/klavor.exe differs from ${EXPECTED}: the build is not reproducible")
endif()
file(SIZE "${EXPECTED}" size)
message(STATUS "${BINARY}/klavor.exe is byte for byte ${EXPECTED} (${size} bytes)")

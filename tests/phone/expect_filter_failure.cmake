# Builds a source whose assembly has a directive the phone build does not
# know, and checks that the build stops there with the file and line:
#   cmake -D SOURCE=... -D TOOLCHAIN=... -D BINARY=... -P expect_filter_failure.cmake
foreach(var SOURCE TOOLCHAIN BINARY)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE "${BINARY}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${BINARY}" -G "Unix Makefiles"
                        -D CMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
message(STATUS "The build said:\n${out}")
if(result EQUAL 0)
  message(FATAL_ERROR "The build succeeded, but its assembly has a section the filter does not know")
endif()
# file:line: what, and the source it came from.
set(expected "static_constructor\\.cpp\\.obj\\.s:[0-9]+: section '\\.init_array' is not one the phone build knows.*"
             "\\(compiled from [^)]*static_constructor\\.cpp\\)")
string(JOIN "" expected ${expected})
if(NOT out MATCHES "${expected}")
  message(FATAL_ERROR "The build failed, but not with the filter's message naming the file and line")
endif()
if(EXISTS "${BINARY}/CMakeFiles/probe.dir/static_constructor.cpp.obj")
  message(FATAL_ERROR "The object was made all the same")
endif()

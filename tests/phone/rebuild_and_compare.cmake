# Builds the phone's klavor.exe and klavor_setup.dll again in another folder
# and checks that each is byte for byte the one already built:
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
# EXPECTED is the built klavor.exe; the DLL beside it is compared too.
get_filename_component(expected_dir "${EXPECTED}" DIRECTORY)
foreach(name klavor.exe klavor_setup.dll)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${expected_dir}/${name}" "${BINARY}/${name}"
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${BINARY}/${name} differs from ${expected_dir}/${name}: the build is not reproducible")
  endif()
  file(SIZE "${expected_dir}/${name}" size)
  message(STATUS "${BINARY}/${name} is byte for byte ${expected_dir}/${name} (${size} bytes)")
endforeach()

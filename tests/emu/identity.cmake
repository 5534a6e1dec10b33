# One identity check: a scenario on the host build and on the ARM klavor.exe
# under the emulated phone must give the same timeline, byte for byte, the
# same exit status and the same messages; and the host's must be the one
# kept in KEPT/NAME.timeline (or .trace), where there is one.
#   cmake -D SIM=klavor-sim -D EXE=klavor.exe -D SCENARIO=file -D TRACE=ON|OFF
#         -D OUT=dir [-D FILES=dir] [-D KEPT=dir] -P identity.cmake
# FILES is where the cabinets the scenario installs are (klavor-sim --files).
cmake_minimum_required(VERSION 3.25)
foreach(var SIM EXE SCENARIO TRACE OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "identity.cmake needs -D ${var}=...")
  endif()
endforeach()
if(NOT EXISTS "${EXE}")
  message(FATAL_ERROR "${EXE} is not there: build it with `cmake --workflow --preset phone`")
endif()

set(flags)
if(TRACE)
  set(flags --trace)
endif()
if(FILES)
  list(APPEND flags --files "${FILES}")
endif()
execute_process(COMMAND "${SIM}" ${flags} "${SCENARIO}"
                OUTPUT_VARIABLE host RESULT_VARIABLE host_status ERROR_VARIABLE host_errors)
execute_process(COMMAND "${SIM}" ${flags} --phone "${EXE}" "${SCENARIO}"
                OUTPUT_VARIABLE phone RESULT_VARIABLE phone_status ERROR_VARIABLE phone_errors)

get_filename_component(name "${SCENARIO}" NAME_WE)
if(TRACE)
  string(APPEND name ".trace")
endif()
file(MAKE_DIRECTORY "${OUT}")
file(WRITE "${OUT}/${name}.host.txt" "${host}")
file(WRITE "${OUT}/${name}.phone.txt" "${phone}")

if(host_status EQUAL 2)
  message(FATAL_ERROR "the host run failed (status 2): ${host_errors}")
endif()
# What klavor-sim says on standard error (remarks on the scenario) must be
# the same too; a fault of the emulated program would show there.
if(NOT phone_status STREQUAL host_status OR NOT phone_errors STREQUAL host_errors)
  message(FATAL_ERROR "exit status ${phone_status} on the phone, ${host_status} on the host\n"
                      "phone: ${phone_errors}\nhost: ${host_errors}")
endif()
if(NOT phone STREQUAL host)
  # Say where they part: the first line that differs.
  string(REPLACE ";" "\\;" host_lines "${host}")
  string(REPLACE ";" "\\;" phone_lines "${phone}")
  string(REPLACE "\n" ";" host_lines "${host_lines}")
  string(REPLACE "\n" ";" phone_lines "${phone_lines}")
  list(LENGTH phone_lines phone_count)
  set(line 0)
  # Both end in a newline, so a longer one differs from the other's last,
  # empty, element.
  foreach(h IN LISTS host_lines)
    set(p "(the phone's timeline has ended)")
    if(line LESS phone_count)
      list(GET phone_lines ${line} p)
    endif()
    math(EXPR line "${line} + 1")
    if(NOT h STREQUAL p)
      set(host_line "${h}")
      set(phone_line "${p}")
      break()
    endif()
  endforeach()
  string(REPLACE "\r" "\\r" h "${host_line}")
  string(REPLACE "\r" "\\r" p "${phone_line}")
  message(FATAL_ERROR "the timelines differ first at line ${line}:\n  host:  ${h}\n  phone: ${p}\n"
                      "whole timelines: ${OUT}/${name}.host.txt and .phone.txt")
endif()
string(LENGTH "${host}" bytes)
message(STATUS "identical: ${bytes} bytes, exit status ${host_status}")

get_filename_component(stem "${SCENARIO}" NAME_WE)
set(kept "${KEPT}/${stem}.timeline")
if(TRACE)
  set(kept "${KEPT}/${stem}.trace")
endif()
if(KEPT AND EXISTS "${kept}")
  file(READ "${kept}" want)
  if(NOT want STREQUAL host)
    message(FATAL_ERROR "the timeline is not the one kept in ${kept}; this run's: ${OUT}/${name}.host.txt")
  endif()
  message(STATUS "and the kept one, ${kept}")
endif()

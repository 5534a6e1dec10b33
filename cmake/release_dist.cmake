# Run by CPack (see release.cmake) with the README and docs staged in
# CPACK_TEMPORARY_DIRECTORY: checks that the page and the exe are the ones
# the last test run tested, then writes dist/ anew with SHA256SUMS.

function(refuse)
  string(JOIN "" why ${ARGV})
  message(FATAL_ERROR "No release folder: ${why}")
endfunction()

set(log ${CPACK_KLAVOR_TEST_LOG})
if(NOT EXISTS ${log})
  refuse("no test run in this build tree (${log}): run `cmake --workflow --preset release`")
endif()
# ctest writes the list of failures only when there are some, and leaves
# an earlier run's list behind when none fail: only one as new as the log
# is this run's.
if(EXISTS ${CPACK_KLAVOR_FAILED_LOG} AND ${CPACK_KLAVOR_FAILED_LOG} IS_NEWER_THAN ${log})
  refuse("the last test run had failures (${CPACK_KLAVOR_FAILED_LOG})")
endif()
# Every test of the last run passed: none failed, was skipped or did not run.
file(STRINGS ${log} started REGEX "^[0-9]+/[0-9]+ Testing: ")
file(STRINGS ${log} passed REGEX "^Test Passed\\.$")
list(LENGTH started started_count)
list(LENGTH passed passed_count)
if(started_count EQUAL 0)
  refuse("the last test run ran nothing")
endif()
list(GET started 0 first)
string(REGEX REPLACE "^[0-9]+/([0-9]+) .*" "\\1" total "${first}")
if(NOT passed_count EQUAL total)
  refuse("the last test run passed ${passed_count} of ${total} tests, and a release needs every test, "
         "the page's and the phone's included, run and passed")
endif()
foreach(file ${CPACK_KLAVOR_PAGE} ${CPACK_KLAVOR_EXE})
  if(NOT EXISTS ${file})
    refuse("${file} is not there")
  endif()
  if(${file} IS_NEWER_THAN ${log})
    refuse("${file} was made after the last test run")
  endif()
endforeach()

set(dist ${CPACK_KLAVOR_DIST})
file(REMOVE_RECURSE ${dist})
file(MAKE_DIRECTORY ${dist})
file(COPY ${CPACK_TEMPORARY_DIRECTORY}/ DESTINATION ${dist})
file(COPY ${CPACK_KLAVOR_PAGE} ${CPACK_KLAVOR_EXE} DESTINATION ${dist})

# SHA256SUMS in the form `sha256sum -c` reads, every file but itself.
file(GLOB_RECURSE files RELATIVE ${dist} ${dist}/*)
list(SORT files)
set(sums "")
foreach(name ${files})
  file(SHA256 ${dist}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${dist}/SHA256SUMS "${sums}")
message(STATUS "The release folder: ${dist}")

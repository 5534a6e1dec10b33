# The release folder: `cmake --workflow --preset release` configures, builds
# and runs every test of the default preset, then packages (CPack, the
# External generator) what a user downloads into dist/: the configurator
# page and the phone's klavor.exe that those tests ran on, the README and
# its docs, and SHA256SUMS. cmake/release_dist.cmake does the packaging and
# refuses unless the last test run passed whole after both files were made.
set(KLAVOR_RELEASE_PAGE ${PROJECT_SOURCE_DIR}/build/web/klavor.html)
set(KLAVOR_RELEASE_EXE ${PROJECT_SOURCE_DIR}/build/phone/klavor.exe)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION .)
endif()

set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/release_dist.cmake)
set(CPACK_PACKAGE_NAME klavor)
set(CPACK_KLAVOR_DIST ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_KLAVOR_PAGE ${KLAVOR_RELEASE_PAGE})
set(CPACK_KLAVOR_EXE ${KLAVOR_RELEASE_EXE})
set(CPACK_KLAVOR_TEST_LOG ${CMAKE_BINARY_DIR}/Testing/Temporary/LastTest.log)
set(CPACK_KLAVOR_FAILED_LOG ${CMAKE_BINARY_DIR}/Testing/Temporary/LastTestsFailed.log)
include(CPack)

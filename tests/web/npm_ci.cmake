# Installs the browser tests' Node packages from the committed lock file:
#   cmake -D SOURCE=tests/web -D DEST=<folder> -D NPM=npm -P npm_ci.cmake
# Nothing is installed again while the lock file is unchanged.
file(MAKE_DIRECTORY ${DEST})
set(stamp ${DEST}/node_modules/.klavor-lock)
file(READ ${SOURCE}/package-lock.json lock)
if(EXISTS ${stamp})
  file(READ ${stamp} installed)
  if(installed STREQUAL lock)
    message(STATUS "Node packages up to date in ${DEST}")
    return()
  endif()
endif()
configure_file(${SOURCE}/package.json ${DEST}/package.json COPYONLY)
configure_file(${SOURCE}/package-lock.json ${DEST}/package-lock.json COPYONLY)
# No browser download: the tests drive Debian's chromium.
execute_process(COMMAND ${CMAKE_COMMAND} -E env PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
                        ${NPM} ci --ignore-scripts --no-audit --no-fund
                WORKING_DIRECTORY ${DEST} COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${stamp} "${lock}")

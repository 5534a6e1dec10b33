# The arm-mingw32ce binutils (as, ld, windres, dlltool, objdump, strip...),
# built from Debian's binutils-source into KLAVOR_PHONE_TOOLCHAIN_DIR the
# first time the phone build is configured, and reused after that: a
# stamp file records what they were built from and how.
#
# Included by toolchain-phone.cmake; sets KLAVOR_PHONE_BINUTILS to the
# folder of the tools. Needs a host C compiler, make, tar, xz, bison and flex.

set(KLAVOR_PHONE_BINUTILS "${KLAVOR_PHONE_TOOLCHAIN_DIR}/bin")

file(GLOB _klavor_tarballs /usr/src/binutils/binutils-*.tar.xz)
list(SORT _klavor_tarballs)
list(LENGTH _klavor_tarballs _klavor_count)
if(_klavor_count EQUAL 0)
  message(FATAL_ERROR "The phone build needs Debian's binutils source, /usr/src/binutils/binutils-*.tar.xz: "
                      "install the package binutils-source")
endif()
list(GET _klavor_tarballs -1 _klavor_tarball)
get_filename_component(_klavor_source_name "${_klavor_tarball}" NAME)
string(REGEX REPLACE "\\.tar\\.xz$" "" _klavor_source_name "${_klavor_source_name}")

# What the phone needs and nothing else: no gdb, simulators, plugins,
# translations or compressed debug sections.
set(_klavor_configure_args
  --target=arm-mingw32ce --disable-nls --disable-werror --disable-gdb --disable-sim
  --disable-gprofng --disable-libctf --disable-plugins --without-zstd)
file(SIZE "${_klavor_tarball}" _klavor_tarball_size)
set(_klavor_stamp_text "${_klavor_tarball} ${_klavor_tarball_size}\n${_klavor_configure_args}\n")
set(_klavor_stamp "${KLAVOR_PHONE_TOOLCHAIN_DIR}/klavor-binutils.stamp")
set(_klavor_tools as ld windres dlltool objdump strip ar)

# True when the tools are there and were built from this source this way.
function(_klavor_binutils_ready out)
  set(ready FALSE)
  if(EXISTS "${_klavor_stamp}")
    file(READ "${_klavor_stamp}" stamp)
    if(stamp STREQUAL _klavor_stamp_text)
      set(ready TRUE)
      foreach(tool IN LISTS _klavor_tools)
        if(NOT EXISTS "${KLAVOR_PHONE_BINUTILS}/arm-mingw32ce-${tool}")
          set(ready FALSE)
        endif()
      endforeach()
    endif()
  endif()
  set(${out} ${ready} PARENT_SCOPE)
endfunction()

# One step of the build; on failure, the end of its log and a stop.
function(_klavor_binutils_step what log)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_FILE "${log}" ERROR_FILE "${log}")
  if(NOT result EQUAL 0)
    file(STRINGS "${log}" lines)
    list(LENGTH lines count)
    math(EXPR first "${count} - 30")
    if(first LESS 0)
      set(first 0)
    endif()
    list(SUBLIST lines ${first} -1 tail)
    list(JOIN tail "\n" tail)
    message(FATAL_ERROR "Building the arm-mingw32ce binutils failed at: ${what} (${result}).\n"
                        "The end of ${log}:\n${tail}")
  endif()
endfunction()

_klavor_binutils_ready(_klavor_ready)
if(NOT _klavor_ready)
  # One build at a time: the test run and a manual build may both get here.
  get_filename_component(_klavor_parent "${KLAVOR_PHONE_TOOLCHAIN_DIR}" DIRECTORY)
  file(MAKE_DIRECTORY "${_klavor_parent}")
  file(LOCK "${KLAVOR_PHONE_TOOLCHAIN_DIR}.lock" GUARD FILE TIMEOUT 3600 RESULT_VARIABLE _klavor_lock)
  if(NOT _klavor_lock EQUAL 0)
    message(FATAL_ERROR "Could not lock ${KLAVOR_PHONE_TOOLCHAIN_DIR}.lock: ${_klavor_lock}")
  endif()
  _klavor_binutils_ready(_klavor_ready)
endif()

if(NOT _klavor_ready)
  # Debian's binutils source lacks the linker's generated grammar and lexer.
  foreach(program make tar xz bison flex)
    find_program(_klavor_have_${program} ${program})
    if(NOT _klavor_have_${program})
      message(FATAL_ERROR "Building the arm-mingw32ce binutils needs ${program} (Debian package: ${program})")
    endif()
  endforeach()
  set(_klavor_work "${KLAVOR_PHONE_TOOLCHAIN_DIR}/work")
  set(_klavor_log "${KLAVOR_PHONE_TOOLCHAIN_DIR}/build.log")
  message(STATUS "Building the arm-mingw32ce binutils from ${_klavor_tarball} into "
                 "${KLAVOR_PHONE_TOOLCHAIN_DIR}, once (a few minutes; log: ${_klavor_log})")
  file(REMOVE_RECURSE "${KLAVOR_PHONE_TOOLCHAIN_DIR}")
  file(MAKE_DIRECTORY "${_klavor_work}/obj")
  # A make above us (a rebuild that re-runs this configure) must not hand
  # its job server down to the binutils build.
  set(_klavor_env ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL)
  _klavor_binutils_step("unpacking" "${_klavor_log}"
    ${CMAKE_COMMAND} -E chdir "${_klavor_work}" tar xf "${_klavor_tarball}")
  _klavor_binutils_step("configure" "${_klavor_work}/configure.log"
    ${_klavor_env} ${CMAKE_COMMAND} -E chdir "${_klavor_work}/obj"
    "${_klavor_work}/${_klavor_source_name}/configure" "--prefix=${KLAVOR_PHONE_TOOLCHAIN_DIR}"
    ${_klavor_configure_args})
  _klavor_binutils_step("make" "${_klavor_work}/make.log"
    ${_klavor_env} make -C "${_klavor_work}/obj" -j2 all-binutils all-gas all-ld)
  _klavor_binutils_step("make install" "${_klavor_work}/install.log"
    ${_klavor_env} make -C "${_klavor_work}/obj" install-binutils install-gas install-ld)
  # Only the installed tools are kept; the sources and objects are 400 MB.
  file(READ "${_klavor_work}/configure.log" _klavor_c)
  file(READ "${_klavor_work}/make.log" _klavor_m)
  file(WRITE "${_klavor_log}" "${_klavor_c}${_klavor_m}")
  file(REMOVE_RECURSE "${_klavor_work}")
  file(WRITE "${_klavor_stamp}" "${_klavor_stamp_text}")
  _klavor_binutils_ready(_klavor_ready)
  if(NOT _klavor_ready)
    message(FATAL_ERROR "The arm-mingw32ce binutils build finished, but ${KLAVOR_PHONE_BINUTILS} "
                        "lacks one of: ${_klavor_tools}")
  endif()
  message(STATUS "The arm-mingw32ce binutils are in ${KLAVOR_PHONE_BINUTILS}")
endif()

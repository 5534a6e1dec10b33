# klavor.exe for the phones (ARM, Windows CE 4.20), from the same engine/,
# app/ and res/ sources as every other build; see toolchain-phone.cmake for
# how the code is made. The README's "The phone build" section says what
# each of the link options below is for.

set(KLAVOR_PHONE_DEF ${PROJECT_SOURCE_DIR}/cmake/phone/coredll.def)
set(KLAVOR_PHONE_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/libcoredll.a)
set(KLAVOR_PHONE_RES ${CMAKE_CURRENT_BINARY_DIR}/klavor.res.obj)

# Every import from coredll, by name, from the list in coredll.def.
add_custom_command(OUTPUT ${KLAVOR_PHONE_IMPLIB}
  COMMAND ${KLAVOR_PHONE_DLLTOOL} --machine arm-wince --input-def ${KLAVOR_PHONE_DEF}
          --output-lib ${KLAVOR_PHONE_IMPLIB}
  DEPENDS ${KLAVOR_PHONE_DEF}
  COMMENT "Making the coredll import library"
  VERBATIM)
add_custom_target(klavor_coredll_imports DEPENDS ${KLAVOR_PHONE_IMPLIB})

# The resources: res/klavor.rc as it is. There is no arm-mingw32ce gcc for
# windres to preprocess with; the ARM compiler's preprocessor does it.
set(KLAVOR_ICONS
  ${PROJECT_SOURCE_DIR}/res/klavor.ico ${PROJECT_SOURCE_DIR}/res/volume_up.ico
  ${PROJECT_SOURCE_DIR}/res/volume_down.ico ${PROJECT_SOURCE_DIR}/res/green.ico
  ${PROJECT_SOURCE_DIR}/res/red.ico)
add_custom_command(OUTPUT ${KLAVOR_PHONE_RES}
  COMMAND ${KLAVOR_PHONE_WINDRES} --preprocessor=${CMAKE_CXX_COMPILER} --preprocessor-arg=-E
          --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED -I ${PROJECT_SOURCE_DIR}/res
          -O coff -o ${KLAVOR_PHONE_RES} ${PROJECT_SOURCE_DIR}/res/klavor.rc
  DEPENDS ${PROJECT_SOURCE_DIR}/res/klavor.rc ${PROJECT_SOURCE_DIR}/res/resource.h ${KLAVOR_ICONS}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/res
  COMMENT "Compiling the resources of klavor.exe"
  VERBATIM)
set_source_files_properties(${KLAVOR_PHONE_RES} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)

add_executable(klavor
  app/ce_start.cpp
  app/main.cpp app/tray.cpp
  engine/key_table.cpp engine/load_key_table.cpp engine/capture.cpp engine/sequence.cpp
  ${KLAVOR_PHONE_RES})
set_target_properties(klavor PROPERTIES SUFFIX .exe LINK_DEPENDS ${KLAVOR_PHONE_IMPLIB})
target_include_directories(klavor PRIVATE platform/include ${PROJECT_SOURCE_DIR})
klavor_program_settings(klavor)
target_compile_definitions(klavor PRIVATE _WIN32_WCE=0x420 UNICODE _UNICODE ARM _ARM_)
add_dependencies(klavor klavor_coredll_imports)
target_link_libraries(klavor PRIVATE ${KLAVOR_PHONE_IMPLIB})
target_link_options(klavor PRIVATE
  -m arm_wince_pe
  --entry=WinMainCRTStartup
  --subsystem=wince:4.20
  --major-os-version=4 --minor-os-version=20
  --image-base=0x10000
  --section-alignment=0x1000 --file-alignment=0x200
  --stack=0x10000,0x1000
  --disable-dynamicbase --disable-nxcompat
  --enable-reloc-section
  --no-insert-timestamp
  --strip-all
  -Map=${CMAKE_CURRENT_BINARY_DIR}/klavor.map)

# The size the phone gets, measured on every build.
add_custom_command(TARGET klavor POST_BUILD
  COMMAND ${CMAKE_COMMAND} -D FILE=$<TARGET_FILE:klavor> -P ${PROJECT_SOURCE_DIR}/cmake/phone/print_size.cmake
  VERBATIM)

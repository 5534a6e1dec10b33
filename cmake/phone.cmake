# klavor.exe for the phones (ARM, Windows CE 4.20), from the same engine/,
# app/ and res/ sources as every other build, and the cabinet's setup
# program klavor_setup.dll (at the end); see toolchain-phone.cmake for
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

# klavor_setup.dll, the cabinet's setup program (setup/), which the phone's
# installer loads: the same toolchain, compile flags and care as klavor.exe,
# linked as a DLL. Its link options against klavor.exe's:
#   libcoredll_setup.a       its imports, from cmake/phone/coredll_setup.def
#   --dll, --entry=DllMain   a DLL, entered on attach and detach with the
#                            loader's three arguments in r0 to r2
#   setup/klavor_setup.def   exports the installer's four calls by name,
#                            and nothing else
#   --image-base=0x10000000  not klavor.exe's 0x10000, which a DLL loaded
#                            beside a program can never have; the customary
#                            base of a DLL. CE loads a DLL from RAM near the
#                            top of the process slot, below the ROM DLLs,
#                            wherever there is room (Microsoft KB 326163),
#                            so it moves it in any case: the relocations
#                            (.reloc, --enable-reloc-section; --strip-all
#                            takes only the symbols) are what let it
#   no --stack               a DLL runs on its caller's stack; the field is
#                            not read
set(KLAVOR_SETUP_DEF ${PROJECT_SOURCE_DIR}/cmake/phone/coredll_setup.def)
set(KLAVOR_SETUP_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/libcoredll_setup.a)
set(KLAVOR_SETUP_EXPORTS ${PROJECT_SOURCE_DIR}/setup/klavor_setup.def)
add_custom_command(OUTPUT ${KLAVOR_SETUP_IMPLIB}
  COMMAND ${KLAVOR_PHONE_DLLTOOL} --machine arm-wince --input-def ${KLAVOR_SETUP_DEF}
          --output-lib ${KLAVOR_SETUP_IMPLIB}
  DEPENDS ${KLAVOR_SETUP_DEF}
  COMMENT "Making the setup program's coredll import library"
  VERBATIM)
add_custom_target(klavor_setup_coredll_imports DEPENDS ${KLAVOR_SETUP_IMPLIB})

add_executable(klavor_setup setup/klavor_setup.cpp)
set_target_properties(klavor_setup PROPERTIES SUFFIX .dll
  LINK_DEPENDS "${KLAVOR_SETUP_IMPLIB};${KLAVOR_SETUP_EXPORTS}")
target_include_directories(klavor_setup PRIVATE platform/include ${PROJECT_SOURCE_DIR})
klavor_program_settings(klavor_setup)
target_compile_definitions(klavor_setup PRIVATE _WIN32_WCE=0x420 UNICODE _UNICODE ARM _ARM_)
add_dependencies(klavor_setup klavor_setup_coredll_imports)
target_link_libraries(klavor_setup PRIVATE ${KLAVOR_SETUP_IMPLIB})
target_link_options(klavor_setup PRIVATE
  -m arm_wince_pe
  --dll
  --entry=DllMain
  --subsystem=wince:4.20
  --major-os-version=4 --minor-os-version=20
  --image-base=0x10000000
  --section-alignment=0x1000 --file-alignment=0x200
  --disable-dynamicbase --disable-nxcompat
  --enable-reloc-section
  --no-insert-timestamp
  --strip-all
  -Map=${CMAKE_CURRENT_BINARY_DIR}/klavor_setup.map
  ${KLAVOR_SETUP_EXPORTS})

add_custom_command(TARGET klavor_setup POST_BUILD
  COMMAND ${CMAKE_COMMAND} -D FILE=$<TARGET_FILE:klavor_setup> -P ${PROJECT_SOURCE_DIR}/cmake/phone/print_size.cmake
  VERBATIM)

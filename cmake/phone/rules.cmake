# The phone build's compile and link rules (see toolchain-phone.cmake):
# each C++ file is compiled to ELF assembly, filtered into COFF assembly,
# and assembled into a PE object; the objects are linked by the
# arm-mingw32ce ld, with the flags phone.cmake gives.
set(CMAKE_CXX_OUTPUT_EXTENSION .obj)
set(CMAKE_CXX_COMPILE_OBJECT
  "<CMAKE_CXX_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -S -o <OBJECT>.s <SOURCE>"
  "${KLAVOR_PYTHON} -B ${KLAVOR_ASM_FILTER} --source <SOURCE> <OBJECT>.s <OBJECT>.ce.s"
  "${KLAVOR_PHONE_AS} -march=armv5t -o <OBJECT> <OBJECT>.ce.s")
set(CMAKE_CXX_LINK_EXECUTABLE
  "${KLAVOR_PHONE_LD} <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

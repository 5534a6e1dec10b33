# A C++ source holding a file of the phone build (klavor.exe, klavor_setup.dll)
# as NAME and NAME_size, its bytes and their count, and NAME_modified, its
# modification time (seconds since 1970 UTC):
#   cmake -D INPUT=klavor.exe -D NAME=klavor_exe -D OUTPUT=klavor_exe.cpp -P embed_exe.cmake
if(NOT NAME MATCHES "^[a-z_]+$")
  message(FATAL_ERROR "NAME must be a C name, not '${NAME}'")
endif()
file(SIZE ${INPUT} size)
if(size EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()
file(READ ${INPUT} hex HEX)
# The cabinet's date is klavor.exe's, as klavorcfg cab takes it from the same file.
file(TIMESTAMP ${INPUT} modified "%s" UTC)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
get_filename_component(file_name ${INPUT} NAME)
file(WRITE ${OUTPUT}.new "// Generated from ${INPUT}: the phone build's ${file_name}.\n"
  "extern \"C\" const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
  "extern \"C\" const unsigned ${NAME}_size = sizeof ${NAME};\n"
  "extern \"C\" const long long ${NAME}_modified = ${modified};\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})

# A C++ source holding a file's bytes as klavor_exe and klavor_exe_size, and
# its modification time (seconds since 1970 UTC) as klavor_exe_modified:
#   cmake -D INPUT=klavor.exe -D OUTPUT=klavor_exe.cpp -P embed_exe.cmake
file(SIZE ${INPUT} size)
if(size EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()
file(READ ${INPUT} hex HEX)
# The cabinet's date, as klavorcfg cab takes it from the same file.
file(TIMESTAMP ${INPUT} modified "%s" UTC)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.new "// Generated from ${INPUT}: the phone build of klavor.exe.\n"
  "extern \"C\" const unsigned char klavor_exe[] = {\n${bytes}\n};\n"
  "extern \"C\" const unsigned klavor_exe_size = sizeof klavor_exe;\n"
  "extern \"C\" const long long klavor_exe_modified = ${modified};\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})

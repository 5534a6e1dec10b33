# Prints the size of the built (stripped) file: cmake -D FILE=... -P print_size.cmake
file(SIZE "${FILE}" size)
math(EXPR tenths "(${size} * 10 + 512) / 1024")
math(EXPR whole "${tenths} / 10")
math(EXPR fraction "${tenths} % 10")
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} bytes (${whole}.${fraction} KB), stripped")

# Writes OUTPUT, a C++ file defining KAMORA_UI_HTML with the bytes of INPUT.
# A byte array avoids compilers' limits on the length of string literals.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Character literals, not 0x.. integers: bytes above 0x7F would narrow.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "('.x..',){16}" "\\0\n" bytes "${bytes}")
file(WRITE ${OUTPUT}
  "// Generated from the console page as served (web/console.html with its parts\n"
  "// inlined); do not edit.\n"
  "#include \"web/ConsolePage.h\"\n"
  "const char KAMORA_UI_HTML[] = {\n${bytes}0};\n"
  "const std::size_t KAMORA_UI_HTML_SIZE = ${size};\n")

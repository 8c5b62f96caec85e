# Writes a C++ source holding files' bytes, run at build time:
#   cmake -DOUT=assets.cpp -DNAMESPACE=qstatus::assets -DFILES="a.html;b.css" -P embed.cmake
# Each file becomes a std::string_view named after it ("status.css" ->
# status_css). The bytes are written as numbers, so no text in a file can
# end a literal early or be read as C++.
cmake_minimum_required(VERSION 3.25)

set(text "// Made at build time by web/embed.cmake from web/assets/; do not edit.\n")
string(APPEND text "#include <string_view>\n\nnamespace ${NAMESPACE} {\n")
foreach(file IN LISTS FILES)
  get_filename_component(name "${file}" NAME)
  string(MAKE_C_IDENTIFIER "${name}" id)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REPEAT "'[^']*'," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  # A terminating zero keeps the array from being empty.
  string(APPEND text "\nstatic const char ${id}_bytes[] = {\n${bytes}0};\n")
  string(APPEND text "extern const std::string_view ${id}(${id}_bytes, ${size});\n")
endforeach()
string(APPEND text "\n} // namespace ${NAMESPACE}\n")

# Only a changed source is written, so an unchanged asset rebuilds nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUT}" "${text}")
endif()

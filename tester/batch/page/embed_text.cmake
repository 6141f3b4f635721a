# Writes a C++ source with one text file as a character array and a function
# that returns it (string literals have size limits on some compilers; an
# array has none). Run by the build:
#   cmake -DINPUT=page.html -DOUTPUT=page.cpp -DFUNCTION=ns::Name -DHEADER=x.h -P embed_text.cmake
foreach(var INPUT OUTPUT FUNCTION HEADER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_text.cmake: -D${var}=... is required")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REPEAT "[0-9a-f][0-9a-f]" 24 line)
string(REGEX REPLACE "(${line})" "\\1\n    " hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
get_filename_component(input_name "${INPUT}" NAME)

set(source "// Generated from ${input_name} by embed_text.cmake: edit that file, not this one.
#include \"${HEADER}\"

namespace {

constexpr char text[${size} + 1] = {
    ${bytes}'\\0'};

}  // namespace

std::string_view ${FUNCTION}() { return {text, sizeof text - 1}; }
")
# Only a changed text touches the output, so an unchanged page rebuilds nothing.
file(WRITE "${OUTPUT}.tmp" "${source}")
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")

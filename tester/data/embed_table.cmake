# Writes the bundled instrument table into a C++ source as one raw string,
# so that the tester needs no file beside it at run time.
file(READ ${INPUT} content)
file(WRITE ${OUTPUT}
  "// Generated from tester/data/instruments.csv; do not edit.\n"
  "#include <string_view>\n"
  "namespace torvik::tester {\n"
  "extern const std::string_view BundledInstrumentText;\n"
  "const std::string_view BundledInstrumentText = R\"torvik_table(${content})torvik_table\";\n"
  "}  // namespace torvik::tester\n")

# Writes OUTPUT, a C++ source defining teamPageHTML() with the bytes of INPUT.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from web/team.html at build time.\n"
  "#include \"storage/team_page.h\"\n"
  "namespace corvane {\n"
  "namespace {\n"
  "const char kPage[] = {${bytes} 0};\n"
  "}  // namespace\n"
  "std::string_view teamPageHTML() { return {kPage, sizeof kPage - 1}; }\n"
  "}  // namespace corvane\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")

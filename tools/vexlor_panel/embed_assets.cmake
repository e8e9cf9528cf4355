# Writes OUTPUT, a C++ file holding the panel's page files as byte arrays (kAssets), so the
# binary serves them without files beside it. Run with cmake -P, given WEB_DIR and OUTPUT.
set(entries "/=index.html=text/html" "/panel.css=panel.css=text/css"
  "/panel.js=panel.js=text/javascript")
set(arrays "")
set(table "")
set(n 0)
foreach(entry IN LISTS entries)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 url)
  list(GET parts 1 file)
  list(GET parts 2 type)
  file(READ "${WEB_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kAsset${n}[] = {${bytes}0x00};\n")
  string(APPEND table "    {\"${url}\", \"${type}; charset=utf-8\", kAsset${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from tools/vexlor_panel/web by embed_assets.cmake; do not edit.
#include \"panel.h\"

namespace vexlor_panel {
namespace {
${arrays}}  // namespace

const Asset kAssets[] = {
${table}};
const std::size_t kAssetCount = sizeof kAssets / sizeof kAssets[0];

}  // namespace vexlor_panel
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

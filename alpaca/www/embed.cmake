# Writes a C++ source holding the setup pages' files as byte arrays, looked up by file name.
# cmake -DOUT=<file.cpp> -DFILES="<a|b|...>" -P embed.cmake
string(REPLACE "|" ";" FILES "${FILES}")
set(_arrays "")
set(_entries "")
set(_index 0)
foreach(_file ${FILES})
  get_filename_component(_name ${_file} NAME)
  file(READ ${_file} _hex HEX)
  string(LENGTH "${_hex}" _hexLength)
  math(EXPR _size "${_hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," _bytes "${_hex}")
  string(APPEND _arrays "const char kFile${_index}[] = {${_bytes} 0};\n")
  string(APPEND _entries "    {\"${_name}\", std::string_view(kFile${_index}, ${_size})},\n")
  math(EXPR _index "${_index} + 1")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from alpaca/www at build time; edit the files there.
#include \"alpaca/WwwFiles.h\"

#include <utility>

namespace velq3::alpaca {
namespace {
${_arrays}
const std::pair<std::string_view, std::string_view> kFiles[] = {
${_entries}};
}  // namespace

std::string_view WwwFile(std::string_view name) {
    for (const auto& [file, content] : kFiles)
        if (file == name) return content;
    return {};
}

}  // namespace velq3::alpaca
")
# Unchanged output keeps the library from rebuilding.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.tmp ${OUT})
file(REMOVE ${OUT}.tmp)

// Pieces of the .reg text syntax written by both hive bodies: the Linux hive file and the text
// of the Windows registry (RegistryHive::ToText).
#pragma once

#include <string>
#include <string_view>

namespace velq3::detail {

// Appends `text` in double quotes, with a backslash before each backslash and double quote.
void AppendRegQuoted(std::string& out, std::string_view text);

}  // namespace velq3::detail

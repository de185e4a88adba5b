// The setup pages' HTML, CSS and script, embedded from alpaca/www at build time.
#pragma once

#include <string_view>

namespace velq3::alpaca {

// The content of alpaca/www/<name>; empty when there is no such file.
std::string_view WwwFile(std::string_view name);

}  // namespace velq3::alpaca

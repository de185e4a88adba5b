// File names as the program keeps them (UTF-8 text) and C stdio files opened by such names on
// every system (Windows' narrow file functions would take the ANSI code page instead).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

namespace velq3 {

// The path named by UTF-8 text.
std::filesystem::path Utf8Path(std::string_view text);

// std::fopen of `path` with the mode of std::fopen; nullptr on failure.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

}  // namespace velq3

// Opening files on Windows: by their UTF-16 names, so that any name opens.
#include "platform/Files.h"

#include <string>

namespace velq3 {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return ::_wfopen(path.c_str(), wideMode.c_str());
}

}  // namespace velq3

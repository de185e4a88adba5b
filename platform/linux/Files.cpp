// Opening files on Linux: paths are bytes, passed through.
#include "platform/Files.h"

namespace velq3 {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

}  // namespace velq3

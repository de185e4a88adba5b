// UTF-8 file names: char8_t text is taken as UTF-8 by std::filesystem on every system.
#include "platform/Files.h"

#include <string>

namespace velq3 {

std::filesystem::path Utf8Path(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace velq3

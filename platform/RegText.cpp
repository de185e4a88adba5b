// The quoted strings of the .reg text syntax.
#include "platform/RegText.h"

namespace velq3::detail {

void AppendRegQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

}  // namespace velq3::detail

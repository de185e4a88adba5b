// The operations of velq3-ctl's command line ("Name", "Name=value", "Name(arg, ...)"), split
// the same way by the Linux and the Windows client; each turns the value texts into its own
// variant type.
#pragma once

#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velq3::ctl {

template <class Value>
struct Operation {
    enum class Kind { Get, Put, Call } kind = Kind::Get;
    std::string name;
    std::vector<Value> args;  // in the order written
};

inline bool IsIdentifier(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

inline bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// Splits "a, "b,c", 3" at the commas outside quotes.
inline std::optional<std::vector<std::string_view>> SplitArguments(std::string_view text) {
    std::vector<std::string_view> parts;
    if (Trim(text).empty()) return parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (quoted && text[i] == '\\') ++i;
        else if (text[i] == '"') quoted = !quoted;
        else if (text[i] == ',' && !quoted) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (quoted) return std::nullopt;
    parts.push_back(text.substr(start));
    return parts;
}

// One operation as written; `parseValue` turns a value's text into an optional Value.
template <class Value, class ParseValue>
std::optional<Operation<Value>> ParseOperation(std::string_view text, ParseValue parseValue) {
    Operation<Value> op;
    const std::size_t eq = text.find('=');
    const std::size_t paren = text.find('(');
    if (eq != std::string_view::npos && (paren == std::string_view::npos || eq < paren)) {
        op.kind = Operation<Value>::Kind::Put;
        op.name = std::string(Trim(text.substr(0, eq)));
        auto value = parseValue(text.substr(eq + 1));
        if (!value) return std::nullopt;
        op.args.push_back(std::move(*value));
    } else if (paren != std::string_view::npos) {
        if (Trim(text).back() != ')') return std::nullopt;
        op.kind = Operation<Value>::Kind::Call;
        op.name = std::string(Trim(text.substr(0, paren)));
        const std::string_view inner = Trim(text).substr(paren + 1);
        const auto parts = SplitArguments(inner.substr(0, inner.size() - 1));
        if (!parts) return std::nullopt;
        for (std::string_view p : *parts) {
            auto value = parseValue(p);
            if (!value || Trim(p).empty()) return std::nullopt;
            op.args.push_back(std::move(*value));
        }
    } else {
        op.name = std::string(Trim(text));
    }
    if (!IsIdentifier(op.name)) return std::nullopt;
    return op;
}

// Text in double quotes, with \" and \\ escaped.
inline std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace velq3::ctl

// Locale-independent parsing of decimal numbers typed into the dialogs' edits.
#include "ui/DecimalText.h"

#include <charconv>
#include <cmath>

namespace velq3::ui {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipBlanks(std::string_view text, size_t i) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    return i;
}

size_t SkipDigits(std::string_view text, size_t i) {
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i;
}

}  // namespace

std::optional<double> LeadingDecimal(std::string_view text) {
    size_t i = SkipBlanks(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t mantissa = i;
    size_t j = SkipDigits(text, i);
    bool digits = j > i;
    if (j < text.size() && text[j] == '.') {
        const size_t k = SkipDigits(text, j + 1);
        digits = digits || k > j + 1;
        j = k;
    }
    if (!digits) return std::nullopt;
    // An exponent counts only when digits follow it.
    if (j < text.size() && (text[j] == 'e' || text[j] == 'E')) {
        size_t k = j + 1;
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
        const size_t e = SkipDigits(text, k);
        if (e > k) j = e;
    }
    // The sign was taken above: from_chars reads the unsigned rest.
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + mantissa, text.data() + j, value);
    if (ec != std::errc() || ptr != text.data() + j || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::int64_t> WholeInteger(std::string_view text) {
    size_t i = SkipBlanks(text, 0);
    const size_t begin = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t end = SkipDigits(text, i);
    if (end == i || SkipBlanks(text, end) != text.size()) return std::nullopt;
    // from_chars takes '-' but not '+'.
    const size_t from = text[begin] == '+' ? begin + 1 : begin;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + from, text.data() + end, value);
    if (ec != std::errc() || ptr != text.data() + end) return std::nullopt;
    return value;
}

}  // namespace velq3::ui

// The transfer helpers of the settings dialogs: number parsing and printing that ignore the
// locale, and the refusal of an entry with a prompt.
#include "ui/DataExchange.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "ui/NumberText.h"

namespace velq3::ui {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// from_chars takes a leading '-' but no '+'.
std::string_view WithoutPlus(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    return text;
}

}  // namespace

std::optional<std::int32_t> SignedNumber(std::string_view text) {
    text = WithoutPlus(Trimmed(text));
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> DecimalNumber(std::string_view text) {
    text = WithoutPlus(Trimmed(text));
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string GeneralText(double value, int digits) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

std::string FixedText(double value, int decimals) {
    char buffer[400];  // room for the largest double in full
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

void DataExchange::Refuse(int id, const char* prompt) {
    m_Ok = false;
    m_Controls.FocusAndSelect(id);
    if (m_Prompt) m_Prompt(prompt);
    else m_Controls.Message(prompt, m_Controls.Caption(), MessageIcon::Warning);
}

void DataExchange::Check(int id, std::int32_t& flag) {
    if (Skip()) return;
    if (ToFields()) flag = m_Controls.Checked(id) ? 1 : 0;
    else m_Controls.SetChecked(id, flag != 0);
}

void DataExchange::ListIndex(int id, std::int32_t& index) {
    if (Skip()) return;
    if (ToFields()) index = m_Controls.Selection(id);
    else m_Controls.Select(id, index >= 0 && index < m_Controls.ItemCount(id) ? index : -1);
}

void DataExchange::Unsigned(int id, std::int32_t& value) {
    if (Skip()) return;
    if (!ToFields()) {
        m_Controls.SetText(id, std::to_string(static_cast<std::uint32_t>(value)));
    } else if (auto v = UnsignedNumber(m_Controls.Text(id))) {
        value = *v;
    } else {
        Refuse(id, kPromptUnsigned);
    }
}

void DataExchange::Signed(int id, std::int32_t& value) {
    if (Skip()) return;
    if (!ToFields()) {
        m_Controls.SetText(id, std::to_string(value));
    } else if (auto v = SignedNumber(m_Controls.Text(id))) {
        value = *v;
    } else {
        Refuse(id, kPromptSigned);
    }
}

void DataExchange::Decimal(int id, float& value) {
    if (Skip()) return;
    if (!ToFields()) {
        m_Controls.SetText(id, GeneralText(static_cast<double>(value), std::numeric_limits<float>::digits10));
        return;
    }
    // A number beyond the float range would not survive the narrowing.
    const auto v = DecimalNumber(m_Controls.Text(id));
    if (v && std::fabs(*v) <= std::numeric_limits<float>::max()) value = static_cast<float>(*v);
    else Refuse(id, kPromptDecimal);
}

void DataExchange::Decimal(int id, double& value) {
    if (Skip()) return;
    if (!ToFields()) {
        m_Controls.SetText(id, GeneralText(value, std::numeric_limits<double>::digits10));
    } else if (auto v = DecimalNumber(m_Controls.Text(id))) {
        value = *v;
    } else {
        Refuse(id, kPromptDecimal);
    }
}

void DataExchange::Text(int id, std::string& value) {
    if (Skip()) return;
    if (ToFields()) value = m_Controls.Text(id);
    else m_Controls.SetText(id, value.c_str());  // up to a NUL, as the edit would take it
}

}  // namespace velq3::ui

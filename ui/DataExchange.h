// Moving a dialog's fields to and from its controls in one routine for both directions; an
// entry that cannot be read stops the transfer with a prompt and the focus on its box.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ui/DialogControls.h"

namespace velq3::ui {

// Tells the operator why an entry was refused; unset, a warning box captioned with the
// dialog's caption does.
using PromptHook = std::function<void(const std::string& text)>;

inline constexpr const char* kPromptUnsigned = "Please enter a whole number of 0 or more.";
inline constexpr const char* kPromptSigned = "Please enter a whole number.";
inline constexpr const char* kPromptDecimal = "Please enter a number.";

// A whole decimal number with an optional sign (blanks around it allowed) within the 32-bit
// range; nothing for anything else.
std::optional<std::int32_t> SignedNumber(std::string_view text);
// A finite decimal number such as "2.25", "-1e3" or "+.5" (blanks around it allowed; the
// decimal point whatever the locale); nothing for anything else, "nan" and "inf" included.
std::optional<double> DecimalNumber(std::string_view text);
// A number with at most `digits` significant digits, no trailing zeros, a point whatever the
// locale ("%g" style).
std::string GeneralText(double value, int digits);
// A number with `decimals` digits after the point whatever the locale ("%.*f" style).
std::string FixedText(double value, int decimals);

class DataExchange {
public:
    enum class Direction { ToControls, ToFields };

    DataExchange(DialogControls& controls, Direction direction, const PromptHook& prompt)
        : m_Controls(controls), m_Direction(direction), m_Prompt(prompt) {}

    bool ToFields() const { return m_Direction == Direction::ToFields; }
    // False once an entry was refused; every later call then does nothing.
    bool Ok() const { return m_Ok; }

    void Check(int id, std::int32_t& flag);
    // The selected index, -1 for none.
    void ListIndex(int id, std::int32_t& index);
    // Shown as an unsigned number; taken only as a whole number of 0 or more.
    void Unsigned(int id, std::int32_t& value);
    void Signed(int id, std::int32_t& value);
    // Shown with 6 significant digits (float) or 15 (double), as the types hold them.
    void Decimal(int id, float& value);
    void Decimal(int id, double& value);
    void Text(int id, std::string& value);

private:
    bool Skip() const { return !m_Ok; }
    void Refuse(int id, const char* prompt);

    DialogControls& m_Controls;
    Direction m_Direction;
    const PromptHook& m_Prompt;
    bool m_Ok = true;
};

}  // namespace velq3::ui

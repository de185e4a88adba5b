// Moving a dialog's fields to and from its controls in one routine for both directions; an
// entry that cannot be read stops the transfer with a prompt and the focus on its box.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ui/DialogTemplate.h"

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

namespace velq3::ui {

// Tells the operator why an entry was refused; a warning box owned by the dialog by default.
using PromptHook = std::function<void(QWidget* dialog, const QString& text)>;
PromptHook DefaultPrompt();

inline constexpr const char* kPromptUnsigned = "Please enter a whole number of 0 or more.";
inline constexpr const char* kPromptSigned = "Please enter a whole number.";
inline constexpr const char* kPromptDecimal = "Please enter a number.";

// A whole decimal number with an optional sign (blanks around it allowed) within the 32-bit
// range; nothing for anything else.
std::optional<std::int32_t> SignedNumber(std::string_view text);
// A finite decimal number such as "2.25", "-1e3" or "+.5" (blanks around it allowed; the
// decimal point whatever the locale); nothing for anything else, "nan" and "inf" included.
std::optional<double> DecimalNumber(std::string_view text);

// A built dialog's control by id, as the type the template made it; nullptr for an unknown id.
template <class T>
T* ControlById(const ControlMap& controls, int id) {
    const auto it = controls.find(id);
    return it == controls.end() ? nullptr : static_cast<T*>(it->second);
}

// Lets the static texts of a dialog whose boxes are two lines high or more break their lines
// at word ends, so that texts laid out on two lines by their template show both lines.
void WrapStaticTexts(QWidget& dialog);

class DataExchange {
public:
    enum class Direction { ToControls, ToFields };

    DataExchange(QWidget& dialog, Direction direction, const PromptHook& prompt)
        : m_Dialog(dialog), m_Direction(direction), m_Prompt(prompt) {}

    bool ToFields() const { return m_Direction == Direction::ToFields; }
    // False once an entry was refused; every later call then does nothing.
    bool Ok() const { return m_Ok; }

    void Check(QAbstractButton* box, std::int32_t& flag);
    // The selected index, -1 for none.
    void ListIndex(QComboBox* list, std::int32_t& index);
    // Shown as an unsigned number; taken only as a whole number of 0 or more.
    void Unsigned(QLineEdit* box, std::int32_t& value);
    void Signed(QLineEdit* box, std::int32_t& value);
    // Shown with 6 significant digits (float) or 15 (double), as the types hold them.
    void Decimal(QLineEdit* box, float& value);
    void Decimal(QLineEdit* box, double& value);
    void Text(QLineEdit* box, std::string& value);

private:
    bool Skip() const { return !m_Ok; }
    void Refuse(QLineEdit* box, const char* prompt);

    QWidget& m_Dialog;
    Direction m_Direction;
    const PromptHook& m_Prompt;
    bool m_Ok = true;
};

}  // namespace velq3::ui

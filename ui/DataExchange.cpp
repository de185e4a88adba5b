// The transfer helpers of the settings dialogs: number parsing that ignores the locale, and
// the refusal of an entry with a prompt.
#include "ui/DataExchange.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

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

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

PromptHook DefaultPrompt() {
    return [](QWidget* dialog, const QString& text) {
        QMessageBox::warning(dialog, dialog ? dialog->windowTitle() : QString(), text);
    };
}

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

void WrapStaticTexts(QWidget& dialog) {
    for (QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->height() >= 2 * label->fontMetrics().height()) label->setWordWrap(true);
}

void DataExchange::Refuse(QLineEdit* box, const char* prompt) {
    m_Ok = false;
    box->setFocus();
    box->selectAll();
    if (m_Prompt) m_Prompt(&m_Dialog, QString::fromUtf8(prompt));
}

void DataExchange::Check(QAbstractButton* box, std::int32_t& flag) {
    if (Skip()) return;
    if (ToFields()) flag = box->isChecked() ? 1 : 0;
    else box->setChecked(flag != 0);
}

void DataExchange::ListIndex(QComboBox* list, std::int32_t& index) {
    if (Skip()) return;
    if (ToFields()) index = list->currentIndex();
    else list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void DataExchange::Unsigned(QLineEdit* box, std::int32_t& value) {
    if (Skip()) return;
    if (!ToFields()) {
        box->setText(QString::number(static_cast<std::uint32_t>(value)));
    } else if (auto v = UnsignedNumber(Utf8(box->text()))) {
        value = *v;
    } else {
        Refuse(box, kPromptUnsigned);
    }
}

void DataExchange::Signed(QLineEdit* box, std::int32_t& value) {
    if (Skip()) return;
    if (!ToFields()) {
        box->setText(QString::number(value));
    } else if (auto v = SignedNumber(Utf8(box->text()))) {
        value = *v;
    } else {
        Refuse(box, kPromptSigned);
    }
}

void DataExchange::Decimal(QLineEdit* box, float& value) {
    if (Skip()) return;
    if (!ToFields()) {
        box->setText(QString::number(static_cast<double>(value), 'g', std::numeric_limits<float>::digits10));
        return;
    }
    // A number beyond the float range would not survive the narrowing.
    const auto v = DecimalNumber(Utf8(box->text()));
    if (v && std::fabs(*v) <= std::numeric_limits<float>::max()) value = static_cast<float>(*v);
    else Refuse(box, kPromptDecimal);
}

void DataExchange::Decimal(QLineEdit* box, double& value) {
    if (Skip()) return;
    if (!ToFields()) {
        box->setText(QString::number(value, 'g', std::numeric_limits<double>::digits10));
    } else if (auto v = DecimalNumber(Utf8(box->text()))) {
        value = *v;
    } else {
        Refuse(box, kPromptDecimal);
    }
}

void DataExchange::Text(QLineEdit* box, std::string& value) {
    if (Skip()) return;
    if (ToFields()) value = Utf8(box->text());
    else box->setText(QString::fromUtf8(value.c_str()));
}

}  // namespace velq3::ui

#pragma once
// Small pieces every settings dialog is built from: string-table texts for
// widgets, combo boxes filled from numbered keys, number fields, the
// OK/Cancel row, and a printf-like format that is safe with translated texts.

#include <QString>
#include <QVariant>
#include <string>
#include <string_view>

class QComboBox;
class QDialog;
class QDialogButtonBox;
class QDoubleSpinBox;
class QFormLayout;
class QGroupBox;
class QPushButton;
class QSpinBox;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

// The current text of a string-table key, line breaks as Qt wants them.
QString tableText(const UiHost& host, std::string_view key);

// A combo box holding the texts of keyPrefix + "0" .. keyPrefix + (count-1),
// with `selected` chosen (clamped into the list).
QComboBox* keyedCombo(const UiHost& host, const std::string& keyPrefix, int count, int selected);
// Selects `index`, or the first entry when it lies outside the list.
void selectClamped(QComboBox* box, int index);

// Number fields wide enough for any value a settings record may hold.
QSpinBox* integerField(int value, int minimum = -999999, int maximum = 999999);
QDoubleSpinBox* decimalField(double value, int decimals, double minimum = -99999.0,
                             double maximum = 99999.0);

// A group box titled with a key's text, holding a form layout.
QGroupBox* formGroup(const UiHost& host, const std::string& titleKey, QFormLayout*& form);

// An OK and a Cancel button with the texts of two keys, wired to the dialog's
// accept() and reject().
QDialogButtonBox* okCancelButtons(QDialog* dialog, const UiHost& host, std::string_view okKey,
                                  std::string_view cancelKey);

// printf-style conversions (%d %u %s %f with flags, width and precision)
// replaced by `values` in order, each formatted alone and only when its type
// fits the conversion; "%%" is a percent sign. A translated format can thus
// never read a wrong argument: a conversion without a value becomes empty, a
// type mismatch shows the value as plain text, anything else stays as written.
QString formatText(const QString& format, const QVariantList& values);

}  // namespace zembra::gui

#include "gui/dialogs/dialog_kit.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include "gui/qt_text.h"
#include "platform/ui_host.h"

namespace zembra::gui {

QString tableText(const UiHost& host, std::string_view key) { return qtText(host.text(key)); }

QComboBox* keyedCombo(const UiHost& host, const std::string& keyPrefix, int count, int selected) {
    auto* box = new QComboBox;
    for (int i = 0; i < count; ++i) box->addItem(tableText(host, keyPrefix + std::to_string(i)));
    selectClamped(box, selected);
    return box;
}

void selectClamped(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : 0);
}

QSpinBox* integerField(int value, int minimum, int maximum) {
    auto* field = new QSpinBox;
    field->setRange(minimum, maximum);
    field->setValue(value);
    return field;
}

QDoubleSpinBox* decimalField(double value, int decimals, double minimum, double maximum) {
    auto* field = new QDoubleSpinBox;
    field->setDecimals(decimals);
    field->setRange(minimum, maximum);
    field->setValue(value);
    return field;
}

QGroupBox* formGroup(const UiHost& host, const std::string& titleKey, QFormLayout*& form) {
    auto* group = new QGroupBox(tableText(host, titleKey));
    form = new QFormLayout(group);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return group;
}

QDialogButtonBox* okCancelButtons(QDialog* dialog, const UiHost& host, std::string_view okKey,
                                  std::string_view cancelKey) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(tableText(host, okKey));
    buttons->button(QDialogButtonBox::Cancel)->setText(tableText(host, cancelKey));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

namespace {

// One conversion; width and precision are kept short so that a format can
// not ask for a huge field.
const QRegularExpression& conversionPattern() {
    static const QRegularExpression pattern(
        QStringLiteral("%([-+ 0#]*)(\\d{0,3})(\\.\\d{0,2})?(?:ll|l|hh|h)?([dusf])"));
    return pattern;
}

bool isIntegral(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return true;
        default:
            return false;
    }
}

// Only the flags each conversion defines are passed on ('#' with %d or '0'
// with %s is undefined), and no precision for %s, which could split a
// multi-byte character.
QString formatOne(QString flags, const QString& width, const QString& precision, QChar conversion,
                  const QVariant& value) {
    auto spec = [&](const char* allowed, bool withPrecision, const char* tail) {
        flags.removeIf([&](QChar c) { return !QByteArray(allowed).contains(char(c.unicode())); });
        return ("%" + flags + width + (withPrecision ? precision : QString()) + tail).toLatin1();
    };
    if ((conversion == 'd' || conversion == 'u') && isIntegral(value))
        return QString::asprintf(spec("-+ 0", true, "lld").constData(), value.toLongLong());
    if (conversion == 'f' && (isIntegral(value) || value.typeId() == QMetaType::Double))
        return QString::asprintf(spec("-+ 0#", true, "f").constData(), value.toDouble());
    if (conversion == 's' && value.typeId() == QMetaType::QString)
        return QString::asprintf(spec("-", false, "s").constData(),
                                 value.toString().toUtf8().constData());
    return value.toString();
}

}  // namespace

QString formatText(const QString& format, const QVariantList& values) {
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size();) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        const auto match = conversionPattern().match(format, i, QRegularExpression::NormalMatch,
                                                     QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch()) {
            out += format[i++];
            continue;
        }
        if (next < values.size()) {
            out += formatOne(match.captured(1), match.captured(2), match.captured(3),
                             match.captured(4)[0], values[next]);
        }
        ++next;
        i += match.capturedLength();
    }
    return out;
}

}  // namespace zembra::gui

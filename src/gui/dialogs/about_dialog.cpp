#include "gui/dialogs/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialogs/dialog_kit.h"

namespace zembra::gui {

AboutDialog::AboutDialog(QWidget* parent, const UiHost& host) : QDialog(parent) {
    setWindowTitle(tableText(host, "STR_ABOUT_Title"));
    auto* name = new QLabel(QStringLiteral("Zembra"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    auto* version = new QLabel(tableText(host, "STR_ABOUT_LABLE_Version") + QLatin1Char(' ') +
                               QStringLiteral(ZEMBRA_VERSION));
    auto* purpose = new QLabel(tableText(host, "STR_ABOUT_LABEL_Description"));
    purpose->setWordWrap(true);
    purpose->setTextFormat(Qt::PlainText);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setText(tableText(host, "STR_ABOUT_BUTTON_OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(purpose);
    layout->addSpacing(8);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

void AboutDialog::run(QWidget* parent, const UiHost& host) {
    AboutDialog dialog(parent, host);
    dialog.exec();
}

}  // namespace zembra::gui

#include "gui/dialogs/size_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/dialogs/settings_dialogs.h"
#include "gui/dialogs/dialog_kit.h"

namespace zembra::gui {

SizeDialog::SizeDialog(QWidget* parent, const UiHost& host, OutputSettings& output)
    : QDialog(parent), output_(output) {
    setWindowTitle(tableText(host, "STR_SIZE_TITLE"));
    volume = integerField(SizeDlg(output).volume);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(tableText(host, "STR_SIZE_LABEL_VOLUME")));
    row->addWidget(volume, 1);
    row->addWidget(new QLabel(tableText(host, "STR_SIZE_LABEL_MB")));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(okCancelButtons(this, host, "STR_SIZE_BUTTON_OK", "STR_SIZE_BUTTON_CANCEL"));
}

bool SizeDialog::run(QWidget* parent, const UiHost& host, OutputSettings& output) {
    SizeDialog dialog(parent, host, output);
    return dialog.exec() == QDialog::Accepted;
}

void SizeDialog::accept() {
    SizeDlg model(output_);
    model.volume = volume->value();
    model.ok(output_);
    QDialog::accept();
}

}  // namespace zembra::gui

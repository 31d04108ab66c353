#include "gui/dialogs/crop_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "gui/dialogs/crop_picture.h"
#include "gui/dialogs/dialog_kit.h"
#include "platform/ui_host.h"

namespace zembra::gui {

CropDialog::CropDialog(QWidget* parent, UiHost& host, OutputSettings& output, int sourceWidth,
                       int sourceHeight, const QImage& frame)
    : QDialog(parent), host_(host), output_(output), model_(output, sourceWidth, sourceHeight) {
    setWindowTitle(tableText(host, "STR_SCROP_TITLE"));
    picture = new CropPicture(frame, sourceWidth, sourceHeight);
    x1 = integerField(0, -9999, 9999);
    x2 = integerField(0, -9999, 9999);
    y1 = integerField(0, -9999, 9999);
    y2 = integerField(0, -9999, 9999);
    showModel();

    auto* fields = new QGridLayout;
    auto addField = [&](int row, int column, const char* key, QSpinBox* field) {
        fields->addWidget(new QLabel(tableText(host, key)), row, 2 * column, Qt::AlignRight);
        fields->addWidget(field, row, 2 * column + 1);
        connect(field, &QSpinBox::valueChanged, this, &CropDialog::fieldsChanged);
    };
    addField(0, 0, "STR_SCROP_LABEL_X1", x1);
    addField(0, 1, "STR_SCROP_LABEL_X2", x2);
    addField(1, 0, "STR_SCROP_LABEL_Y1", y1);
    addField(1, 1, "STR_SCROP_LABEL_Y2", y2);
    fields->setColumnStretch(1, 1);
    fields->setColumnStretch(3, 1);

    auto* info = new QLabel(tableText(host, "STR_SCROP_LABEL_INFO").trimmed());
    info->setWordWrap(true);
    info->setTextFormat(Qt::PlainText);

    QDialogButtonBox* buttons =
        okCancelButtons(this, host, "STR_SCROP_BUTTON_OK", "STR_SCROP_BUTTON_CANCEL");
    defaults = buttons->addButton(tableText(host, "STR_SCROP_BUTTON_DEFAULT"),
                                  QDialogButtonBox::ResetRole);
    connect(defaults, &QPushButton::clicked, this, [this] {
        model_.setDefault();
        showModel();
    });
    connect(picture, &CropPicture::cropDragged, this, [this](int l, int t, int r, int b) {
        model_.x1 = l;
        model_.y1 = t;
        model_.x2 = r;
        model_.y2 = b;
        showModel();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture, 1);
    layout->addLayout(fields);
    layout->addWidget(info);
    layout->addWidget(buttons);
}

bool CropDialog::run(QWidget* parent, UiHost& host, OutputSettings& output, int sourceWidth,
                     int sourceHeight, const QImage& frame) {
    // The rectangle is stored as fractions of the source size: without a
    // known size there is nothing to divide by.
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        host.error("STR_ERROR_23");
        return false;
    }
    CropDialog dialog(parent, host, output, sourceWidth, sourceHeight, frame);
    return dialog.exec() == QDialog::Accepted;
}

void CropDialog::showModel() {
    const QSignalBlocker b1(x1), b2(x2), b3(y1), b4(y2);
    x1->setValue(model_.x1);
    x2->setValue(model_.x2);
    y1->setValue(model_.y1);
    y2->setValue(model_.y2);
    picture->setCrop(model_.x1, model_.y1, model_.x2, model_.y2);
}

void CropDialog::takeFields() {
    model_.x1 = x1->value();
    model_.x2 = x2->value();
    model_.y1 = y1->value();
    model_.y2 = y2->value();
}

void CropDialog::fieldsChanged() {
    takeFields();
    picture->setCrop(model_.x1, model_.y1, model_.x2, model_.y2);
}

void CropDialog::accept() {
    takeFields();
    const bool stored = model_.ok(host_, output_);
    showModel();  // the fields as the check rounded them
    if (stored) QDialog::accept();
}

}  // namespace zembra::gui

#include "gui/dialogs/lame_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/dialogs/settings_dialogs.h"
#include "gui/dialogs/dialog_kit.h"

namespace zembra::gui {

namespace {

// A frequency field followed by its unit.
QHBoxLayout* hertzRow(const UiHost& host, QSpinBox* field) {
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(new QLabel(tableText(host, "STR_LAME_LABEL_HZ")));
    return row;
}

}  // namespace

LameDialog::LameDialog(QWidget* parent, const UiHost& host, ApplicationSettings& app)
    : QDialog(parent), app_(app) {
    setWindowTitle(tableText(host, "STR_LAME_TITLE"));
    const CLameDlg model(app);

    bitRate = new QComboBox;
    const QString rateFormat = tableText(host, "STR_LAME_COMBO_BITRATE");
    for (int rate : CLameDlg::kBitRates) bitRate->addItem(formatText(rateFormat, {rate}));
    selectClamped(bitRate, model.bitRateIndex);
    channel = keyedCombo(host, "STR_LAME_COMBO_CHANNEL_", 2, model.stereo);
    quality = keyedCombo(host, "STR_LAME_COMBO_QUALITY_", 8, model.qualityIndex);
    lowpass = integerField(model.lowpass, -1);
    highpass = integerField(model.highpass, -1);

    auto* form = new QFormLayout;
    form->addRow(tableText(host, "STR_LAME_LABEL_BITRATE"), bitRate);
    form->addRow(tableText(host, "STR_LAME_LABEL_CHANNEL"), channel);
    form->addRow(tableText(host, "STR_LAME_LABEL_QUALITY"), quality);

    auto* filter = new QGroupBox(tableText(host, "STR_LAME_GROUP_FILTER"));
    auto* filterForm = new QFormLayout(filter);
    filterForm->addRow(tableText(host, "STR_LAME_LABEL_LOWPASS"), hertzRow(host, lowpass));
    filterForm->addRow(tableText(host, "STR_LAME_LABEL_HIGHPASS"), hertzRow(host, highpass));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(filter);
    layout->addWidget(okCancelButtons(this, host, "STR_LAME_BUTTON_OK", "STR_LAME_BUTTON_CANEL"));
}

bool LameDialog::run(QWidget* parent, const UiHost& host, ApplicationSettings& app) {
    LameDialog dialog(parent, host, app);
    return dialog.exec() == QDialog::Accepted;
}

void LameDialog::accept() {
    CLameDlg model(app_);
    model.bitRateIndex = bitRate->currentIndex();
    model.stereo = channel->currentIndex();
    model.qualityIndex = quality->currentIndex();
    model.lowpass = lowpass->value();
    model.highpass = highpass->value();
    model.ok(app_);
    QDialog::accept();
}

}  // namespace zembra::gui

#include "gui/dialogs/audio_format_dialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QVBoxLayout>

#include "avi/codecs/audio_converter.h"
#include "gui/dialogs/dialog_kit.h"
#include "gui/qt_text.h"

namespace zembra::gui {

AudioFormatDialog::AudioFormatDialog(QWidget* parent, const UiHost& host, int outputRate)
    : QDialog(parent) {
    setWindowTitle(tableText(host, "STR_AVISETTING_DLG_SelectAudioCodec"));
    list = new QListWidget;
    for (const auto& driver : avi::audioConverterDrivers()) {
        for (const auto& format : driver.formats(outputRate)) {
            const int kbps = int(format.format.avgBytesPerSec * 8 / 1000);
            choices_.push_back({driver.name, kbps});
            list->addItem(qtText(format.tagName + ", " + format.description));
        }
    }
    if (list->count() > 0) list->setCurrentRow(0);
    connect(list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list);
    layout->addWidget(
        okCancelButtons(this, host, "STR_PREFERENCE_BUTTON_OK", "STR_PREFERENCE_BUTTON_CANCEL"));
    resize(460, 320);
}

AudioFormatDialog::Choice AudioFormatDialog::choice() const {
    const int row = list->currentRow();
    return row >= 0 && row < int(choices_.size()) ? choices_[size_t(row)] : Choice{{}, 0};
}

}  // namespace zembra::gui

#include "gui/dialogs/codec_settings_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

#include "avi/codecs/xvid_settings.h"
#include "gui/dialogs/dialog_kit.h"
#include "gui/qt_text.h"

namespace zembra::gui {

bool CodecSettingsDialog::hasForm(const avi::CompressorInfo& compressor) {
    return compressor.fccHandler == avi::kHandlerXvid;
}

CodecSettingsDialog::CodecSettingsDialog(QWidget* parent, const UiHost& host,
                                         const avi::CompressorInfo& compressor,
                                         const std::vector<uint8_t>& state, int pass)
    : QDialog(parent) {
    setWindowTitle(formatText(tableText(host, "STR_CODEC_TITLE"), {qtText(compressor.name), pass}));
    // A state that is not Xvid's shows (and gives) the compressor's defaults.
    avi::XvidSettings values;
    (void)values.loadState(state);
    // The ranges the compressor accepts, so that it never refuses the form.
    bitrate = integerField(values.bitrate, 16, 20000);
    quantizer = integerField(values.quantizer, 0, 31);
    quality = integerField(values.quality, 0, 6);
    keyint = integerField(values.keyint, 0, 600);

    auto* form = new QFormLayout;
    form->addRow(tableText(host, "STR_CODEC_LABEL_BITRATE"), bitrate);
    form->addRow(tableText(host, "STR_CODEC_LABEL_QUANTIZER"), quantizer);
    form->addRow(tableText(host, "STR_CODEC_LABEL_QUALITY"), quality);
    form->addRow(tableText(host, "STR_CODEC_LABEL_KEYINT"), keyint);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(
        okCancelButtons(this, host, "STR_PREFERENCE_BUTTON_OK", "STR_PREFERENCE_BUTTON_CANCEL"));
}

std::string CodecSettingsDialog::keyValues() const {
    return "bitrate=" + std::to_string(bitrate->value()) +
           "\nquantizer=" + std::to_string(quantizer->value()) +
           "\nquality=" + std::to_string(quality->value()) +
           "\nkeyint=" + std::to_string(keyint->value()) + "\n";
}

}  // namespace zembra::gui

#include "gui/dialogs/input_fields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>

#include "gui/dialogs/dialog_kit.h"

namespace zembra::gui {

InputFields::InputFields(const UiHost& host, const InputFieldKeys& keys, const InputSettings& in) {
    const std::string& p = keys.prefix;
    auto label = [&](const char* suffix) { return tableText(host, p + suffix); };
    auto check = [&](const char* suffix, bool value) {
        auto* box = new QCheckBox(label(suffix));
        box->setChecked(value);
        return box;
    };

    video = formGroup(host, p + "GROUP_VIDEO", videoForm);
    deinterlace = keyedCombo(host, p + "COMBO_DEINTERLACE_", 4, in.deinterlace);
    frameRate =
        keyedCombo(host, p + "COMBO_OUTPUTFRAMERATE_", FrameRateTable::kCount, in.frameRate);
    detect24 = check("CHECK_DETECT24FPS", in.detect24Fps);
    force24 = check("CHECK_FORCE24FPS", in.force24Fps);
    videoForm->addRow(tableText(host, p + keys.deinterlaceLabel), deinterlace);
    videoForm->addRow(label("LABEL_OUTPUTFRAMERATE"), frameRate);
    videoForm->addRow(detect24);
    videoForm->addRow(force24);

    audio = formGroup(host, p + "GROUP_AUDIO", audioForm);
    downSampling = keyedCombo(host, p + "COMBO_DOWNSAMPLING_", 5, in.downSampling);
    ac3Gain = decimalField(in.ac3Gain, 2);
    dolby = check("CHECK_DOLBY", in.dolby);
    avSynch = check("CHECK_AVSYNCH", in.avSync);
    audioForm->addRow(tableText(host, p + keys.downSamplingLabel), downSampling);
    audioForm->addRow(label("LABEL_VOLUME"), ac3Gain);
    audioForm->addRow(dolby);
    audioForm->addRow(avSynch);

    luminance = formGroup(host, p + "GROUP_LUMINANCE", luminanceForm);
    luminanceOn = check("CHECK_ENABLELUMINANCE", in.luminanceFilter);
    luminanceGain = integerField(in.luminanceGain);
    luminanceOffset = integerField(in.luminanceOffset);
    luminanceForm->addRow(luminanceOn);
    luminanceForm->addRow(label("LABEL_GAIN"), luminanceGain);
    luminanceForm->addRow(label("LABEL_OFFSET"), luminanceOffset);

    subtitle = formGroup(host, p + "GROUP_SUBTITLE", subtitleForm);
    subOffset = integerField(in.subtitleOffset);
    originalColor = check("CHECK_ORIGINALCOLOR", in.subtitleColors);
    subtitleForm->addRow(label("LABEL_SUBTITLEOFFSET"), subOffset);
    subtitleForm->addRow(originalColor);
}

void InputFields::store(InputSettings& in) const {
    in.deinterlace = deinterlace->currentIndex();
    in.frameRate = frameRate->currentIndex();
    in.detect24Fps = detect24->isChecked();
    in.force24Fps = force24->isChecked();
    in.downSampling = downSampling->currentIndex();
    in.ac3Gain = ac3Gain->value();
    in.dolby = dolby->isChecked();
    in.avSync = avSynch->isChecked();
    in.luminanceFilter = luminanceOn->isChecked();
    in.luminanceGain = luminanceGain->value();
    in.luminanceOffset = luminanceOffset->value();
    in.subtitleOffset = subOffset->value();
    in.subtitleColors = originalColor->isChecked();
}

}  // namespace zembra::gui

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
    auto check = [&](const char* suffix, int value) {
        auto* box = new QCheckBox(label(suffix));
        box->setChecked(value != 0);
        return box;
    };

    video = formGroup(host, p + "GROUP_VIDEO", videoForm);
    deinterlace = keyedCombo(host, p + "COMBO_DEINTERLACE_", 4, in.Deinterlace);
    frameRate =
        keyedCombo(host, p + "COMBO_OUTPUTFRAMERATE_", FrameRateTable::kCount, in.FrameRate);
    detect24 = check("CHECK_DETECT24FPS", in.Detect24Fps);
    force24 = check("CHECK_FORCE24FPS", in.Force24);
    videoForm->addRow(tableText(host, p + keys.deinterlaceLabel), deinterlace);
    videoForm->addRow(label("LABEL_OUTPUTFRAMERATE"), frameRate);
    videoForm->addRow(detect24);
    videoForm->addRow(force24);

    audio = formGroup(host, p + "GROUP_AUDIO", audioForm);
    downSampling = keyedCombo(host, p + "COMBO_DOWNSAMPLING_", 5, in.DownSampling);
    ac3Gain = decimalField(in.AC3Gain, 2);
    dolby = check("CHECK_DOLBY", in.Dolby);
    avSynch = check("CHECK_AVSYNCH", in.AVSynch);
    audioForm->addRow(tableText(host, p + keys.downSamplingLabel), downSampling);
    audioForm->addRow(label("LABEL_VOLUME"), ac3Gain);
    audioForm->addRow(dolby);
    audioForm->addRow(avSynch);

    luminance = formGroup(host, p + "GROUP_LUMINANCE", luminanceForm);
    luminanceOn = check("CHECK_ENABLELUMINANCE", in.LuminanceFilter);
    luminanceGain = integerField(in.LuminanceGain);
    luminanceOffset = integerField(in.LuminanceOffset);
    luminanceForm->addRow(luminanceOn);
    luminanceForm->addRow(label("LABEL_GAIN"), luminanceGain);
    luminanceForm->addRow(label("LABEL_OFFSET"), luminanceOffset);

    subtitle = formGroup(host, p + "GROUP_SUBTITLE", subtitleForm);
    subOffset = integerField(in.SubOffset);
    originalColor = check("CHECK_ORIGINALCOLOR", in.SubColor);
    subtitleForm->addRow(label("LABEL_SUBTITLEOFFSET"), subOffset);
    subtitleForm->addRow(originalColor);
}

void InputFields::store(InputSettings& in) const {
    in.Deinterlace = deinterlace->currentIndex();
    in.FrameRate = frameRate->currentIndex();
    in.Detect24Fps = detect24->isChecked();
    in.Force24 = force24->isChecked();
    in.DownSampling = downSampling->currentIndex();
    in.AC3Gain = ac3Gain->value();
    in.Dolby = dolby->isChecked();
    in.AVSynch = avSynch->isChecked();
    in.LuminanceFilter = luminanceOn->isChecked();
    in.LuminanceGain = luminanceGain->value();
    in.LuminanceOffset = luminanceOffset->value();
    in.SubOffset = subOffset->value();
    in.SubColor = originalColor->isChecked();
}

}  // namespace zembra::gui

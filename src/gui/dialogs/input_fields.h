#pragma once
// The input settings the Global tab and the properties dialog share: video
// (deinterlace, frame rate, 24 fps detection), audio (down sampling, AC-3
// gain, Dolby, A/V synch), luminance and subtitle. The two dialogs label them
// with their own keys ("STR_GLOBAL_..." and "STR_PROPERTY_...") and add rows
// of their own to the groups.

#include <string>

#include "app/settings_store.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QGroupBox;
class QSpinBox;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

struct InputFieldKeys {
    std::string prefix;             // "STR_GLOBAL_" or "STR_PROPERTY_"
    std::string deinterlaceLabel;   // suffix of the deinterlace label key
    std::string downSamplingLabel;  // suffix of the down-sampling label key
};

class InputFields {
public:
    InputFields(const UiHost& host, const InputFieldKeys& keys, const InputSettings& input);

    // Writes the fields into `input`; everything else in it is left alone.
    void store(InputSettings& input) const;

    // The four groups, each with a form layout to which a dialog may add rows.
    QGroupBox *video, *audio, *luminance, *subtitle;
    QFormLayout *videoForm, *audioForm, *luminanceForm, *subtitleForm;

    QComboBox *deinterlace, *frameRate, *downSampling;
    QCheckBox *detect24, *force24, *dolby, *avSynch, *luminanceOn, *originalColor;
    QDoubleSpinBox* ac3Gain;
    QSpinBox *luminanceGain, *luminanceOffset, *subOffset;
};

}  // namespace zembra::gui

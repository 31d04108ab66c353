#pragma once
// The AVI Specific tab of the preference dialog: the video compressor among
// those that take the output size in the export format, the export format,
// the sound (none, a WAV file, MP3 or an audio converter) with its
// description, and the passes with each one's compressor settings.
//
// "Enable Pass 1" is DoAVIVideo: the video pass (without it the AVI holds
// only sound). "Enable Pass 2" is Enable2Pass: a second video pass, which
// only counts with the first one on.

#include <QWidget>
#include <cstdint>
#include <vector>

#include "app/dialogs/settings_dialogs.h"
#include "avi/codecs/video_compressor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace zembra {
class UiHost;
namespace avi {
class AviWriter;
}
}  // namespace zembra

namespace zembra::gui {

class AviTab : public QWidget {
    Q_OBJECT
public:
    // The MP3 dialog writes settings.app; the sound choices go to `writer`,
    // which keeps them for the next rips.
    AviTab(UiHost& host, SettingsStore& settings, avi::AviWriter& writer);

    // The tab's choices into the record, each pass's state coding its pass.
    void commit(OutputSettings& output);

    // The choices as they stand (not yet written).
    const OutputSettings& values() const { return model_.values; }
    const std::vector<avi::CompressorInfo>& compressors() const { return compressors_; }

    QComboBox *videoCodec, *exportFormat, *audioMode;
    QPushButton *audioCodecButton, *pass1Button, *pass2Button;
    QLabel *audioCodecName, *audioCodecInfo;
    QCheckBox *pass1, *pass2;

private:
    QWidget* buildAviGroup();
    QWidget* buildExpertGroup();
    void listCompressors();
    void compressorChosen(int index);
    const avi::CompressorInfo* chosenCompressor() const;
    void describeAudio();
    void chooseAudioCodec();
    void editPass(int pass);
    void updateEnabled();
    bool twoPass() const;
    // The state of `base` (or the compressor's defaults) with `lines` applied.
    std::vector<uint8_t> configured(std::vector<uint8_t> base, const std::string& lines);

    UiHost& host_;
    SettingsStore& settings_;
    avi::AviWriter& writer_;
    CfAVISettingDlg model_;
    std::vector<avi::CompressorInfo> compressors_;
};

}  // namespace zembra::gui

#pragma once
// Toolkit-free models of the settings dialogs: each opens on a copy of the
// records it edits and writes them back on OK.

#include <string>
#include <vector>

#include "app/settings_store.h"

namespace zembra {

class UiHost;

// Custom split size ("Volume", MB).
class SizeDlg {
public:
    explicit SizeDlg(const OutputSettings& output) : volume(output.splitSizeMB) {}
    int volume;
    void ok(OutputSettings& output) const { output.splitSizeMB = volume < 1 ? 1 : volume; }
};

// The Global tab edits the input settings.
class CfGlobalDlg {
public:
    explicit CfGlobalDlg(const InputSettings& input) : values(input) {}
    InputSettings values;
    // SaveBufferSize below 1 becomes 1; a RAM buffer above 20 MB is warned
    // about (and kept).
    void ok(UiHost& host, InputSettings& input);
};

// The AVI tab: export format, audio mode, two-pass and the compressor.
class CfAVISettingDlg {
public:
    explicit CfAVISettingDlg(const OutputSettings& output) : values(output) {}
    OutputSettings values;
    static std::vector<std::string> exportKeys();  // STR_AVISETTING_COMBO_EXPORT_0..3
    static std::vector<std::string> audioKeys();   // STR_AVISETTING_COMBO_AUDIOCODEC_0..3
    void ok(OutputSettings& output) const { output = values; }
};

// The MPEG tab.
class CfMPEGSettingDlg {
public:
    CfMPEGSettingDlg(const OutputSettings& output, const ApplicationSettings& app)
        : values(output), threads(app.threads) {}
    OutputSettings values;
    int threads;  // Zembra_App.threads, which the tab offers beside the encoder's settings
    void ok(OutputSettings& output, ApplicationSettings& app) const;
};

// The MP3 dialog: list positions mapped to the Zembra_Lame values.
class CLameDlg {
public:
    static constexpr int kBitRates[9] = {80, 96, 112, 128, 160, 192, 224, 256, 320};
    explicit CLameDlg(const ApplicationSettings& app);
    int bitRateIndex;  // first entry not below the stored rate
    int stereo;        // 0 Stereo, 1 Join Stereo
    int qualityIndex;  // position 0..7, stored as position + 1
    int lowpass, highpass;
    void ok(ApplicationSettings& app) const;
};

// The properties dialog of one file-list row.
class CfTabPropertiesDlg {
public:
    static constexpr int kAudioBitRates[kAudioBitRateCount] = {32,  48,  56,  64,  80,  96,  112,
                                                               128, 160, 192, 224, 256, 320, 384};
    CfTabPropertiesDlg(const InputSettings& input, const OutputSettings& output)
        : input(input), output(output) {}
    InputSettings input;
    OutputSettings output;
    // What the read-only summary shows: the source picture size, frame rate
    // and aspect ratio ("4:3", empty when unknown), and the rate of the sound
    // written (48 kHz with "48.0 KHz (no conversion)", else 44.1 kHz). The
    // dialog formats the lines with the texts of the current language.
    struct Summary {
        int width, height;
        double frameRate;
        std::string aspect;
        int sampleRate;
    };
    Summary summary() const;
    void ok(UiHost& host, InputSettings& inputOut, OutputSettings& outputOut);
};

}  // namespace zembra

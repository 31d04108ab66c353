#include "app/dialogs/settings_dialogs.h"

#include <algorithm>

#include "app/encode_dlg.h"
#include "platform/ui_host.h"

namespace zembra {

void CfGlobalDlg::ok(UiHost& host, InputSettings& input) {
    if (values.SaveBufferSize < 1) values.SaveBufferSize = 1;
    if (values.SaveBufferLocation == 0 && values.SaveBufferSize > 20) host.warning("STR_ERROR_2");
    // The run-time fields of the record are not the dialog's to change.
    InputSettings edited = input;
    edited.Deinterlace = values.Deinterlace;
    edited.DownSampling = values.DownSampling;
    edited.LuminanceGain = values.LuminanceGain;
    edited.iDCT = values.iDCT;
    edited.SaveBufferLocation = values.SaveBufferLocation;
    edited.LuminanceOffset = values.LuminanceOffset;
    edited.FrameRate = values.FrameRate;
    edited.SaveBufferSize = values.SaveBufferSize;
    edited.SubOffset = values.SubOffset;
    edited.AC3Gain = values.AC3Gain;
    edited.AVSynch = values.AVSynch;
    edited.Detect24Fps = values.Detect24Fps;
    edited.Dolby = values.Dolby;
    edited.LuminanceFilter = values.LuminanceFilter;
    edited.Force24 = values.Force24;
    edited.SubColor = values.SubColor;
    edited.UseASPI = values.UseASPI;
    edited.AC3File = values.AC3File;
    input = edited;
}

std::vector<std::string> CfAVISettingDlg::exportKeys() {
    std::vector<std::string> keys;
    for (int i = 0; i < 4; ++i) keys.push_back("STR_AVISETTING_COMBO_EXPORT_" + std::to_string(i));
    return keys;
}

std::vector<std::string> CfAVISettingDlg::audioKeys() {
    std::vector<std::string> keys;
    for (int i = 0; i < 4; ++i)
        keys.push_back("STR_AVISETTING_COMBO_AUDIOCODEC_" + std::to_string(i));
    return keys;
}

void CfMPEGSettingDlg::ok(OutputSettings& output, ApplicationSettings& app) const {
    app.Threads = std::clamp(threads, 0, kMaxThreads);
    output.MotionSearch = values.MotionSearch;
    output.AdaptiveQuant = values.AdaptiveQuant;
    output.VideoResize = values.VideoResize;
    output.CPU = values.CPU;
    output.DCT = values.DCT;
    output.MuxRate = values.MuxRate;
    output.VBV = values.VBV;
    output.QuantMat = values.QuantMat;
    output.Pulldown = values.Pulldown;
}

CLameDlg::CLameDlg(const ApplicationSettings& app)
    : bitRateIndex(8),
      stereo(app.Stereo),
      qualityIndex(app.Quality - 1),
      lowpass(app.Lowpass),
      highpass(app.Highpass) {
    for (int i = 0; i < 9; ++i)
        if (kBitRates[i] >= app.BitRate) {
            bitRateIndex = i;
            break;
        }
    if (qualityIndex < 0 || qualityIndex > 7) qualityIndex = 2;
}

void CLameDlg::ok(ApplicationSettings& app) const {
    app.BitRate = kBitRates[bitRateIndex >= 0 && bitRateIndex < 9 ? bitRateIndex : 5];
    app.Stereo = stereo;
    app.Quality = qualityIndex + 1;
    app.Lowpass = lowpass;
    app.Highpass = highpass;
}

CfTabPropertiesDlg::Summary CfTabPropertiesDlg::summary() const {
    return {input.SourceWidth, input.SourceHeight, input.SourceFrameRate,
            aspectRatioText(input.SourceAspect), input.DownSampling == 4 ? 48000 : 44100};
}

void CfTabPropertiesDlg::ok(UiHost& host, InputSettings& inputOut, OutputSettings& outputOut) {
    CfGlobalDlg global(input);
    global.ok(host, inputOut);
    outputOut.VideoBitRate = output.VideoBitRate;
    outputOut.AudioBitRate = output.AudioBitRate;
    outputOut.Width = output.Width < 16 ? 16 : output.Width;
    outputOut.Height = output.Height < 16 ? 16 : output.Height;
    inputOut.ChapterFrom = input.ChapterFrom;
    inputOut.ChapterTo = input.ChapterTo;
}

}  // namespace zembra

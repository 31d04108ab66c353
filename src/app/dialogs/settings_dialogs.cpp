#include "app/dialogs/settings_dialogs.h"

#include <algorithm>

#include "app/encode_dlg.h"
#include "platform/ui_host.h"

namespace zembra {

void CfGlobalDlg::ok(UiHost& host, InputSettings& input) {
    if (values.saveBufferSize < 1) values.saveBufferSize = 1;
    if (values.saveBufferLocation == 0 && values.saveBufferSize > 20) host.warning("STR_ERROR_2");
    // The run-time fields of the record are not the dialog's to change.
    InputSettings edited = input;
    edited.deinterlace = values.deinterlace;
    edited.downSampling = values.downSampling;
    edited.luminanceGain = values.luminanceGain;
    edited.idct = values.idct;
    edited.saveBufferLocation = values.saveBufferLocation;
    edited.luminanceOffset = values.luminanceOffset;
    edited.frameRate = values.frameRate;
    edited.saveBufferSize = values.saveBufferSize;
    edited.subtitleOffset = values.subtitleOffset;
    edited.ac3Gain = values.ac3Gain;
    edited.avSync = values.avSync;
    edited.detect24Fps = values.detect24Fps;
    edited.dolby = values.dolby;
    edited.luminanceFilter = values.luminanceFilter;
    edited.force24Fps = values.force24Fps;
    edited.subtitleColors = values.subtitleColors;
    edited.useAspi = values.useAspi;
    edited.ac3File = values.ac3File;
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
    app.threads = std::clamp(threads, 0, kMaxThreads);
    output.motionSearch = values.motionSearch;
    output.adaptiveQuant = values.adaptiveQuant;
    output.videoResize = values.videoResize;
    output.cpu = values.cpu;
    output.dct = values.dct;
    output.muxRate = values.muxRate;
    output.vbvBufferSize = values.vbvBufferSize;
    output.quantMatrix = values.quantMatrix;
    output.pulldown = values.pulldown;
}

CLameDlg::CLameDlg(const ApplicationSettings& app)
    : bitRateIndex(8),
      stereo(app.mp3ChannelMode),
      qualityIndex(app.mp3Quality - 1),
      lowpass(app.mp3Lowpass),
      highpass(app.mp3Highpass) {
    for (int i = 0; i < 9; ++i)
        if (kBitRates[i] >= app.mp3BitRate) {
            bitRateIndex = i;
            break;
        }
    if (qualityIndex < 0 || qualityIndex > 7) qualityIndex = 2;
}

void CLameDlg::ok(ApplicationSettings& app) const {
    app.mp3BitRate = kBitRates[bitRateIndex >= 0 && bitRateIndex < 9 ? bitRateIndex : 5];
    app.mp3ChannelMode = stereo;
    app.mp3Quality = qualityIndex + 1;
    app.mp3Lowpass = lowpass;
    app.mp3Highpass = highpass;
}

CfTabPropertiesDlg::Summary CfTabPropertiesDlg::summary() const {
    return {input.sourceWidth, input.sourceHeight, input.sourceFrameRate,
            aspectRatioText(input.sourceAspect), input.downSampling == 4 ? 48000 : 44100};
}

void CfTabPropertiesDlg::ok(UiHost& host, InputSettings& inputOut, OutputSettings& outputOut) {
    CfGlobalDlg global(input);
    global.ok(host, inputOut);
    outputOut.videoBitRate = output.videoBitRate;
    outputOut.audioBitRate = output.audioBitRate;
    outputOut.width = output.width < 16 ? 16 : output.width;
    outputOut.height = output.height < 16 ? 16 : output.height;
    inputOut.chapterFrom = input.chapterFrom;
    inputOut.chapterTo = input.chapterTo;
}

}  // namespace zembra

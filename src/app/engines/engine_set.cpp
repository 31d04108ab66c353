#include "app/engines/engine_set.h"

#include "app/engines/avi_rip_writer.h"
#include "app/engines/decoder_rip_source.h"
#include "app/layer2_converter.h"
#include "app/mpeg_rip_writer.h"
#include "avi/avi_writer.h"
#include "avi/codecs/audio_converter.h"
#include "avi/codecs/formats.h"
#include "avi/codecs/mp3_library.h"
#include "avi/codecs/video_compressor.h"
#include "platform/paths.h"

namespace zembra {

EngineSet::EngineSet(UiHost& host, SettingsStore& settings)
    : host_(host),
      settings_(settings),
      source_(std::make_unique<DecoderRipSource>(host, catalogue_)),
      avi_(std::make_unique<AviRipWriter>(host)),
      mpeg_(std::make_unique<MpegRipWriter>(host)) {
    // The MP3 library is looked for once, at start-up, with the stored values.
    const ApplicationSettings& a = settings.app;
    avi::Mp3Library::instance().load(a.mp3BitRate, a.mp3ChannelMode, a.mp3Quality, a.mp3Lowpass,
                                     a.mp3Highpass);
    registerLayer2Converter();
}

EngineSet::~EngineSet() = default;

RipEngines EngineSet::ripEngines() {
    RipEngines e;
    e.source = source_.get();
    e.avi = avi_.get();
    e.mpeg = mpeg_.get();
    return e;
}

namespace {

// The compressor named by its name, description or FOURCC, without regard to case.
const avi::CompressorInfo* findCompressor(const std::vector<avi::CompressorInfo>& list,
                                          const std::string& wanted) {
    for (const auto& c : list)
        if (equalsNoCase(c.name, wanted) || equalsNoCase(c.description, wanted) ||
            equalsNoCase(avi::fourccText(c.fccHandler), wanted))
            return &c;
    return nullptr;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

}  // namespace

avi::AviWriter& EngineSet::aviWriter() { return avi_->writer(); }

std::vector<std::string> EngineSet::videoCodecNames() {
    std::vector<std::string> names;
    for (const auto& c : avi::installedVideoCompressors())
        names.push_back(c.name + " (" + avi::fourccText(c.fccHandler) + ")");
    return names;
}

std::string EngineSet::applyAviChoices(const AviChoices& choices) {
    OutputSettings& out = settings_.output;
    const bool touchVideo =
        !choices.videoCodec.empty() || !choices.codecOptions.empty() || choices.twoPass;
    if (touchVideo) {
        const auto list = avi::installedVideoCompressors();
        const avi::CompressorInfo* info = nullptr;
        if (!choices.videoCodec.empty()) {
            info = findCompressor(list, choices.videoCodec);
            if (!info) {
                std::string known;
                for (const auto& n : videoCodecNames()) known += "\n  " + n;
                return "no video compressor '" + choices.videoCodec + "' on this machine; " +
                       "installed:" + known;
            }
        } else {
            for (const auto& c : list)
                if (c.fccHandler == uint32_t(out.compressorHandler)) info = &c;
            if (!info) return "no video compressor chosen (--video-codec)";
        }
        auto compressor = avi::openVideoCompressorDriver(info->fccType, info->fccHandler);
        if (!compressor) return "cannot open the video compressor " + info->name;
        const bool sameCodec = uint32_t(out.compressorHandler) == info->fccHandler;
        if (sameCodec && !out.pass1State.empty()) (void)compressor->setState(out.pass1State);
        if (!choices.codecOptions.empty() &&
            !compressor->configure(joinLines(choices.codecOptions)))
            return "the video compressor " + info->name + " refuses the options given";
        out.compressorName = info->name;
        out.compressorType = int(info->fccType);
        out.compressorHandler = int(info->fccHandler);
        // The pass-1 and pass-2 states differ only in the pass they code; a
        // compressor without two-pass settings keeps one state for both.
        const bool twoPass = out.twoPass;
        (void)compressor->configure(twoPass ? "pass=1" : "pass=0");
        out.pass1State = compressor->getState();
        if (twoPass) (void)compressor->configure("pass=2");
        out.pass2State = compressor->getState();
        out.pass1StateSize = int(out.pass1State.size());
        out.pass2StateSize = int(out.pass2State.size());
    }
    if (!choices.audioConverter.empty()) {
        const int rate = settings_.input.downSampling == 4 ? 48000 : 44100;
        avi_->writer().setAudioOutputRate(rate);
        if (!avi_->writer().chooseAudioCodec(avi::kAudioConverter, choices.audioConverter,
                                             choices.audioKbps))
            return "no audio converter '" + choices.audioConverter + "' on this machine";
    }
    return {};
}

}  // namespace zembra

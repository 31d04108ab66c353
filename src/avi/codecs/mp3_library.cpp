#include "avi/codecs/mp3_library.h"

#include <cstdio>
#include <utility>

#include "avi/codecs/lame_api.h"

namespace zembra::avi {

// Key numbers of setVar() and the LAME setting each one drives. The writer
// sets them in this order for every piece: 0 BitRate, 1 Quality, 2 rate,
// 3 Stereo, 4 -> 2, 5 rate, 6 -> 98, 7..10 -> 0, 17 Lowpass, 18 -> -1,
// 19 Highpass, 20 -> -1, 21..24 -> 0, 25 -> 2, 26 -> 0, 27 -> 1, 36 -> 1,
// 37, 38 -> 0.
//
//   0 bit rate (kbit/s)            lame_set_brate
//   1 quality (0 best .. 9)        lame_set_quality
//   2 input sample rate (Hz)       lame_set_in_samplerate
//   3 channel mode                 lame_set_mode (0 stereo, 1 joint, 2 dual, 3 mono)
//   4 input channels               lame_set_num_channels
//   5 output sample rate (Hz)      lame_set_out_samplerate
//   7 copyright bit                lame_set_copyright
//   8 original bit                 lame_set_original
//   9 CRC protection               lame_set_error_protection
//  10 private bit                  lame_set_extension
//  17 low-pass frequency (Hz)      lame_set_lowpassfreq (-1 none, 0 LAME chooses)
//  18 low-pass width (Hz)          lame_set_lowpasswidth (-1 LAME's default)
//  19 high-pass frequency (Hz)     lame_set_highpassfreq (-1 none, 0 LAME chooses)
//  20 high-pass width (Hz)         lame_set_highpasswidth (-1 LAME's default)
//  21 VBR mode (0 constant rate)   lame_set_VBR
//  22 VBR quality                  lame_set_VBR_q
//  23 VBR least bit rate (kbit/s)  lame_set_VBR_min_bitrate_kbps
//  24 VBR most bit rate (kbit/s)   lame_set_VBR_max_bitrate_kbps
//  26 no bit reservoir             lame_set_disable_reservoir
//
// Other keys (6, 11..16, 25, 27..39: settings LAME decides for itself, such
// as frame padding and psychoacoustic tuning) are accepted and change
// nothing; keys outside 0..39 are refused.
//
// Every encoder also writes no Xing/Info frame and no ID3 tags: its bytes go
// into an AVI stream, not into an .mp3 file, and a tag there would be noise.

namespace {

constexpr int kMaxMessage = 132;

// LAME's report callbacks carry no context. A call into LAME runs on the
// caller's thread (the AVI writer encodes beside the picture on a thread of
// its own), so the encoder making the call points this thread's collector
// at its message list for the length of the call.
thread_local std::vector<std::string>* t_messages = nullptr;

class CollectMessages {
public:
    explicit CollectMessages(std::vector<std::string>& into) : saved_(t_messages) {
        t_messages = &into;
    }
    ~CollectMessages() { t_messages = saved_; }
    CollectMessages(const CollectMessages&) = delete;
    CollectMessages& operator=(const CollectMessages&) = delete;

private:
    std::vector<std::string>* saved_;
};

void keepLameError(const char* format, va_list args) {
    if (t_messages == nullptr) return;
    char text[kMaxMessage + 1];
    std::vsnprintf(text, sizeof text, format, args);
    t_messages->emplace_back(text);
}

void ignoreLameMessage(const char*, va_list) {}

}  // namespace

Mp3Encoder::Mp3Encoder(const LameApi& api, void* handle) : api_(api), handle_(handle) {
    api_.setErrorf(handle_, keepLameError);
    api_.setDebugf(handle_, ignoreLameMessage);
    api_.setMsgf(handle_, ignoreLameMessage);
    api_.setVbrTag(handle_, 0);
    api_.setId3Automatic(handle_, 0);
}

Mp3Encoder::~Mp3Encoder() { api_.close(handle_); }

std::vector<std::string> Mp3Encoder::takeMessages() { return std::exchange(messages_, {}); }

bool Mp3Encoder::setVar(int key, int value) {
    LameApi::SetInt set = nullptr;
    switch (key) {
        case 0:
            set = api_.setBrate;
            break;
        case 1:
            set = api_.setQuality;
            break;
        case 2:
            set = api_.setInSampleRate;
            break;
        case 3:
            set = api_.setMode;
            break;
        case 4:
            set = api_.setNumChannels;
            break;
        case 5:
            set = api_.setOutSampleRate;
            break;
        case 7:
            set = api_.setCopyright;
            break;
        case 8:
            set = api_.setOriginal;
            break;
        case 9:
            set = api_.setErrorProtection;
            break;
        case 10:
            set = api_.setExtension;
            break;
        case 17:
            set = api_.setLowpass;
            break;
        case 18:
            set = api_.setLowpassWidth;
            break;
        case 19:
            set = api_.setHighpass;
            break;
        case 20:
            set = api_.setHighpassWidth;
            break;
        case 21:
            set = api_.setVbr;
            break;
        case 22:
            set = api_.setVbrQ;
            break;
        case 23:
            set = api_.setVbrMin;
            break;
        case 24:
            set = api_.setVbrMax;
            break;
        case 26:
            set = api_.setDisableReservoir;
            break;
        default:
            return key >= 0 && key < 40;
    }
    return set(handle_, value) >= 0;
}

bool Mp3Encoder::initParams() {
    CollectMessages collect(messages_);
    return api_.initParams(handle_) >= 0;
}

int Mp3Encoder::encode(const int16_t* left, const int16_t* right, int n, uint8_t* out, int cap) {
    if (n < 0 || out == nullptr || cap <= 0) return -1;
    if (n == 0) return 0;
    CollectMessages collect(messages_);
    return api_.encodeBuffer(handle_, left, right, n, out, cap);
}

int Mp3Encoder::encodeInterleaved(const int16_t* pcm, int n, uint8_t* out, int cap) {
    if (n < 0 || out == nullptr || cap <= 0) return -1;
    if (n == 0) return 0;
    CollectMessages collect(messages_);
    // LAME takes the buffer as non-const but only reads it in stereo mode.
    return api_.encodeInterleaved(handle_, const_cast<short*>(pcm), n, out, cap);
}

int Mp3Encoder::flush(uint8_t* out, int cap) {
    if (out == nullptr || cap <= 0) return -1;
    CollectMessages collect(messages_);
    return api_.flush(handle_, out, cap);
}

int Mp3Encoder::encoderDelay() const { return api_.encoderDelay(handle_); }
int Mp3Encoder::sampleRate() const { return api_.outSampleRate(handle_); }
int Mp3Encoder::bitRate() const { return api_.getBrate(handle_); }

Mp3Library& Mp3Library::instance() {
    static Mp3Library library;
    return library;
}

void Mp3Library::load(int bitRate, int stereo, int quality, int lowpass, int highpass) {
    values_ = {bitRate, stereo, quality, lowpass, highpass};
    lameApi();
}

bool Mp3Library::loaded() const { return lameApi() != nullptr; }

std::string Mp3Library::versionText() const {
    const LameApi* a = lameApi();
    if (a == nullptr) return {};
    const char* v = a->version();
    return v != nullptr ? v : "";
}

std::unique_ptr<Mp3Encoder> Mp3Library::newEncoder(int sampleRate,
                                                   std::vector<std::string>* messages) const {
    return newEncoder(values_, sampleRate, messages);
}

std::unique_ptr<Mp3Encoder> Mp3Library::newEncoder(const Values& v, int sampleRate,
                                                   std::vector<std::string>* messages) const {
    const LameApi* a = lameApi();
    if (a == nullptr) return nullptr;
    void* handle = a->init();
    if (handle == nullptr) return nullptr;
    auto encoder = std::make_unique<Mp3Encoder>(*a, handle);
    const int settings[][2] = {
        {0, v.bitRate},  {1, v.quality},  {2, sampleRate}, {3, v.stereo},    {4, 2},
        {5, sampleRate}, {6, 98},         {7, 0},          {8, 0},           {9, 0},
        {10, 0},         {17, v.lowpass}, {18, -1},        {19, v.highpass}, {20, -1},
        {21, 0},         {22, 0},         {23, 0},         {24, 0},          {25, 2},
        {26, 0},         {27, 1},         {36, 1},         {37, 0},          {38, 0},
    };
    for (const auto& s : settings) encoder->setVar(s[0], s[1]);
    const bool started = encoder->initParams();
    if (messages) {
        for (std::string& m : encoder->takeMessages()) messages->push_back(std::move(m));
    }
    if (!started) return nullptr;
    // LAME quietly moves a rate it cannot make to a neighbour; the stream
    // would then not match its format record.
    if (encoder->sampleRate() != sampleRate) return nullptr;
    return encoder;
}

void Mp3Library::setLibraryName(const std::string& soname) { setLameLibraryName(soname); }

WaveFormat mp3WaveFormat(int bitRate, int sampleRate) {
    WaveFormat w;
    w.formatTag = kWaveFormatMpegLayer3;
    w.channels = 2;
    w.samplesPerSec = uint32_t(sampleRate);
    w.avgBytesPerSec = uint32_t(bitRate / 8 * 1000);
    w.blockAlign = 1;
    w.bitsPerSample = 0;
    // MPEGLAYER3WAVEFORMAT's own fields: wID 1 (MPEG), fdwFlags 2 (padding
    // off), nBlockSize 731, nFramesPerBlock 1, nCodecDelay 0.
    w.extra = {1, 0, 2, 0, 0, 0, 0xdb, 0x02, 1, 0, 0, 0};
    return w;
}

}  // namespace zembra::avi

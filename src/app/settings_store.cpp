#include "app/settings_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "app/output_options.h"
#include "geometry/output_geometry.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace zembra {

namespace {

enum class Kind { Int, Real, Text, Blob };

struct Key {
    const char* section;
    const char* name;
    Kind kind;
    const char* def;  // INI text of the default; nullptr for OutputPath and blobs
    void* (*field)(SettingsStore&);
    int* (*blobSize)(SettingsStore&);  // blobs only: their size key
};

#define ZK_INT(rec, sec, name, def)                                                         \
    {                                                                                       \
        sec, #name, Kind::Int, def, +[](SettingsStore& s) -> void* { return &s.rec.name; }, \
            nullptr                                                                         \
    }
#define ZK_REAL(rec, sec, name, def)                                                         \
    {                                                                                        \
        sec, #name, Kind::Real, def, +[](SettingsStore& s) -> void* { return &s.rec.name; }, \
            nullptr                                                                          \
    }
#define ZK_TEXT(rec, sec, name, def)                                                         \
    {                                                                                        \
        sec, #name, Kind::Text, def, +[](SettingsStore& s) -> void* { return &s.rec.name; }, \
            nullptr                                                                          \
    }
#define ZK_BLOB(rec, sec, name)                                                                  \
    {                                                                                            \
        sec, #name, Kind::Blob, nullptr, +[](SettingsStore& s) -> void* { return &s.rec.name; }, \
            +[](SettingsStore& s) -> int* { return &s.rec.name##_Size; }                         \
    }

#define IN_INT(name, def) ZK_INT(input, kInputSection, name, def)
#define OUT_INT(name, def) ZK_INT(output, kOutputSection, name, def)
#define OUT_REAL(name, def) ZK_REAL(output, kOutputSection, name, def)

// Load and save order: input, output, application, MP3.
const Key kKeys[] = {
    IN_INT(AudioTrack, "0"),
    IN_INT(Subtitle, "0"),
    IN_INT(DownSampling, "0"),
    IN_INT(UseASPI, "1"),
    IN_INT(FrameRate, "1"),
    IN_INT(SubOffset, "0"),
    IN_INT(Detect24Fps, "1"),
    IN_INT(Force24, "1"),
    IN_INT(PGC, "0"),
    IN_INT(Angle, "1"),
    IN_INT(iDCT, "0"),
    IN_INT(SubColor, "1"),
    IN_INT(OverLapped, "0"),
    IN_INT(ShutDown, "0"),
    IN_INT(LuminanceFilter, "0"),
    IN_INT(LuminanceGain, "128"),
    IN_INT(LuminanceOffset, "0"),
    IN_INT(AVSynch, "0"),
    IN_INT(Deinterlace, "0"),
    IN_INT(Dolby, "1"),
    IN_INT(SaveBufferLocation, "0"),
    IN_INT(SaveBufferSize, "10"),
    ZK_TEXT(input, kInputSection, AC3File, "none.ac3"),
    ZK_REAL(input, kInputSection, AC3Gain, "3.0"),
    IN_INT(Volume, "0"),
    IN_INT(RenderMode, "0"),

    ZK_TEXT(output, kOutputSection, LastOutput, "none"),
    OUT_INT(MPEGStream, "0"),
    OUT_INT(StreamTypeSelected, "0"),
    OUT_INT(Width, "352"),
    OUT_INT(Height, "288"),
    OUT_INT(MaxFrames, "10000"),
    OUT_INT(CPU, "0"),
    OUT_INT(VideoBitRate, "150"),
    OUT_INT(MaxVideoBitRate, "2600"),
    OUT_INT(AudioBitRate, "11"),
    OUT_INT(MotionSearch, "0"),
    OUT_INT(SplitMode, "5"),
    OUT_INT(Volume, "730"),
    OUT_INT(Ratio, "0"),
    OUT_INT(VideoResize, "2"),
    OUT_INT(Render, "25"),
    OUT_INT(PaddMin, "30"),
    OUT_INT(PaddMax, "90"),
    OUT_INT(OverWrite, "0"),
    OUT_INT(DCT, "0"),
    OUT_INT(VBV, "20"),
    OUT_INT(MultiPass, "0"),
    OUT_INT(DoAVIAudio, "2"),
    OUT_INT(DoAVIVideo, "1"),
    OUT_INT(Pulldown, "0"),
    OUT_INT(ExportYUV, "1"),
    OUT_INT(UseVcdWizard, "0"),
    OUT_INT(QuantMat, "0"),
    OUT_INT(Enable2Pass, "0"),
    OUT_INT(AdaptiveQuant, "0"),
    OUT_REAL(MuxRate, "1.4"),
    OUT_REAL(X1, "0.0"),
    OUT_REAL(X2, "1.0"),
    OUT_REAL(Y1, "0.0"),
    OUT_REAL(Y2, "1.0"),
    ZK_TEXT(output, kOutputSection, AVIVideoC1, "None"),
    OUT_INT(AVIfccHandler, "0"),
    OUT_INT(AVIfccType, "0"),
    OUT_INT(AVIVideoP1Settings_Size, "0"),
    ZK_BLOB(output, kOutputSection, AVIVideoP1Settings),
    OUT_INT(AVIVideoP2Settings_Size, "0"),
    ZK_BLOB(output, kOutputSection, AVIVideoP2Settings),

    ZK_TEXT(app, kAppSection, OutputPath, nullptr),
    ZK_INT(app, kAppSection, Prority, "0"),
    ZK_INT(app, kAppSection, Threads, "0"),

    ZK_INT(app, kLameSection, BitRate, "192"),
    ZK_INT(app, kLameSection, Stereo, "0"),
    ZK_INT(app, kLameSection, Quality, "3"),
    ZK_INT(app, kLameSection, Lowpass, "19500"),
    ZK_INT(app, kLameSection, Highpass, "-1"),
};

// A standard decimal-to-double conversion; a value that is not a finite
// number (nan, inf) would poison the geometry and rate arithmetic, so it
// gives the default instead.
double parseReal(std::string_view text, double def) {
    std::string s(text);
    double v = std::strtod(s.c_str(), nullptr);
    return std::isfinite(v) ? v : def;
}

std::string formatReal(double v) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%f", v);
    return buffer;
}

bool validBlobSize(int size) { return size > 0 && size <= kMaxCompressorState; }

}  // namespace

int threadCount(const ApplicationSettings& app) {
    if (app.Threads > 0) return app.Threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : std::min(int(cores), kMaxThreads);
}

SettingsStore::SettingsStore(std::filesystem::path optionsFile, std::string documentsDir)
    : optionsFile_(std::move(optionsFile)) {
    setDocumentsFolder(std::move(documentsDir));
}

void SettingsStore::setDocumentsFolder(std::string documentsDir) {
    documentsDir_ = withTrailingSlash(std::move(documentsDir));
}

std::string withOutputExtension(const std::string& name, int mpegStream) {
    if (name.compare(0, 4, "none") == 0) return name;
    const char* ext = mpegStream > 1 ? ".avi" : ".mpg";
    size_t dot = name.rfind('.');
    size_t slash = name.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
    return name.substr(0, dot) + ext;
}

void SettingsStore::LoadSettings() {
    const ProfileFile file(optionsFile_);
    optionsUnreadable_ = file.unreadable();
    loadFrom(file);
}

void SettingsStore::loadFrom(const ProfileFile& file) {
    input = InputSettings{};
    output = OutputSettings{};
    std::string docs = documentsDir_.empty() ? zembra::documentsFolder() : documentsDir_;
    for (const Key& k : kKeys) {
        void* field = k.field(*this);
        std::optional<std::string> value = file.get(k.section, k.name);
        switch (k.kind) {
            case Kind::Int:
                *static_cast<int*>(field) =
                    value ? profile::parseInt(*value, profile::parseInt(k.def, 0))
                          : profile::parseInt(k.def, 0);
                break;
            case Kind::Real:
                *static_cast<double*>(field) =
                    value ? parseReal(*value, parseReal(k.def, 0.0)) : parseReal(k.def, 0.0);
                break;
            case Kind::Text: {
                auto& text = *static_cast<std::string*>(field);
                if (k.def) {
                    text = value ? *value : std::string(k.def);
                } else {
                    // OutputPath: the documents folder unless the file names one.
                    if (value && !value->empty()) {
                        text = withTrailingSlash(*value);
                    } else {
                        std::error_code ec;
                        std::filesystem::create_directories(docs, ec);
                        text = docs;
                    }
                }
                break;
            }
            case Kind::Blob: {
                auto& blob = *static_cast<std::vector<uint8_t>*>(field);
                int& size = *k.blobSize(*this);
                blob.clear();
                if (size == 0) break;
                if (!validBlobSize(size)) {
                    size = 0;  // a hostile length: no state rather than a huge buffer
                    break;
                }
                // A state that does not read back (wrong length or checksum)
                // leaves the zeroed buffer of the stored length.
                blob.assign(static_cast<size_t>(size), 0);
                if (value) {
                    std::vector<uint8_t> read(blob.size());
                    if (profile::decodeStruct(*value, read.data(), read.size())) blob = read;
                }
                break;
            }
        }
    }
    applyLoadRules();
    output.Correct43 = 0;
    output.RenderSource = output.Ratio == 4 ? 1 : 0;
    output.ShowResolution = 1;
    output.PreviewAspect = 1.12;
    input.Duration = 0.0;
    input.AudioId = -1;
    input.SubtitleId = 255;
    input.CacheFile = cacheFilePath();
}

void SettingsStore::applyLoadRules() {
    if (app.Prority < 0 || app.Prority > 3) app.Prority = 0;
    // A negative count means nothing: the default. A huge one would only
    // multiply the frames in flight.
    if (app.Threads < 0) app.Threads = 0;
    app.Threads = std::min(app.Threads, kMaxThreads);
    // No output carries a side beyond kMaxOutputSide, and the picture
    // buffers of a larger one would not even fit in memory.
    output.Width = std::clamp(output.Width, kMinOutputSide, kMaxOutputSide);
    output.Height = std::clamp(output.Height, kMinOutputSide, kMaxOutputSide);
    // The index selects a table entry; one outside the table would read past it.
    if (input.FrameRate < 0 || input.FrameRate >= FrameRateTable::kCount) input.FrameRate = 1;
    // Outside the Split list, or a custom size below 1 MB, the rip would
    // start a new piece after every frame: such values get their defaults.
    if (output.SplitMode < 0 || output.SplitMode >= kSplitCount) output.SplitMode = kSplitCustom;
    if (output.Volume < 1) output.Volume = 730;
    // Past the list's end the Layer II encoder and the multiplexer would
    // each fall back to a rate of their own.
    if (output.AudioBitRate < 0 || output.AudioBitRate >= kAudioBitRateCount)
        output.AudioBitRate = 11;
    output.LastOutput = withOutputExtension(output.LastOutput, output.MPEGStream);
    if (!app.OutputPath.empty()) app.OutputPath = withTrailingSlash(app.OutputPath);
}

std::string SettingsStore::cacheFilePath() const {
    std::error_code ec;
    if (!app.OutputPath.empty() && std::filesystem::is_directory(app.OutputPath, ec))
        return withTrailingSlash(app.OutputPath) + "hdcache.dat";
    std::string docs = documentsDir_.empty() ? zembra::documentsFolder() : documentsDir_;
    return docs + "hdcache.dat";
}

std::vector<std::pair<std::string, std::string>> SettingsStore::list() const {
    std::vector<std::pair<std::string, std::string>> out;
    auto& self = const_cast<SettingsStore&>(*this);  // the accessors are shared with load
    for (const Key& k : kKeys) {
        const void* field = k.field(self);
        std::string text;
        switch (k.kind) {
            case Kind::Int:
                text = std::to_string(*static_cast<const int*>(field));
                break;
            case Kind::Real:
                text = formatReal(*static_cast<const double*>(field));
                break;
            case Kind::Text:
                text = *static_cast<const std::string*>(field);
                break;
            case Kind::Blob: {
                const auto& blob = *static_cast<const std::vector<uint8_t>*>(field);
                if (*k.blobSize(self) != 0) text = profile::encodeStruct(blob.data(), blob.size());
                break;
            }
        }
        out.emplace_back(std::string(k.section) + "." + k.name, text);
    }
    return out;
}

bool SettingsStore::SaveSettings() const {
    ProfileFile file(optionsFile_);
    // A file we could not read would lose what it holds if rewritten.
    if (file.unreadable()) return false;
    saveTo(file);
    return file.save(optionsFile_);
}

void SettingsStore::saveTo(ProfileFile& file) const {
    auto& self = const_cast<SettingsStore&>(*this);
    for (const Key& k : kKeys) {
        const void* field = k.field(self);
        switch (k.kind) {
            case Kind::Int:
                file.set(k.section, k.name, std::to_string(*static_cast<const int*>(field)));
                break;
            case Kind::Real:
                file.set(k.section, k.name, formatReal(*static_cast<const double*>(field)));
                break;
            case Kind::Text:
                file.set(k.section, k.name,
                         profile::quoteIfNeeded(*static_cast<const std::string*>(field)));
                break;
            case Kind::Blob: {
                int size = *k.blobSize(self);
                if (!validBlobSize(size)) break;
                std::vector<uint8_t> blob = *static_cast<const std::vector<uint8_t>*>(field);
                blob.resize(static_cast<size_t>(size), 0);
                file.set(k.section, k.name, profile::encodeStruct(blob.data(), blob.size()));
                break;
            }
        }
    }
}

std::string SettingsStore::set(std::string_view sectionDotKey, std::string_view value) {
    size_t dot = sectionDotKey.find('.');
    if (dot == std::string_view::npos) return "expected Section.Key";
    std::string_view section = sectionDotKey.substr(0, dot);
    std::string_view name = sectionDotKey.substr(dot + 1);
    for (const Key& k : kKeys) {
        if (!equalsNoCase(section, k.section) || !equalsNoCase(name, k.name)) continue;
        void* field = k.field(*this);
        switch (k.kind) {
            case Kind::Int: {
                *static_cast<int*>(field) = profile::parseInt(value, 0);
                // A size key resizes its state block, which follows it in the table.
                const Key* next = &k + 1;
                if (next < std::end(kKeys) && next->kind == Kind::Blob) {
                    int& size = *next->blobSize(*this);
                    if (size != 0 && !validBlobSize(size)) size = 0;
                    static_cast<std::vector<uint8_t>*>(next->field(*this))
                        ->resize(static_cast<size_t>(size), 0);
                }
                break;
            }
            case Kind::Real:
                *static_cast<double*>(field) = parseReal(value, parseReal(k.def, 0.0));
                break;
            case Kind::Text:
                *static_cast<std::string*>(field) = std::string(value);
                break;
            case Kind::Blob: {
                if (value.size() < 2 || value.size() % 2 != 0) return "not a hex state block";
                size_t size = value.size() / 2 - 1;
                if (size > static_cast<size_t>(kMaxCompressorState)) return "state block too large";
                std::vector<uint8_t> blob(size);
                if (!profile::decodeStruct(value, blob.data(), blob.size()))
                    return "not a hex state block with its checksum";
                *static_cast<std::vector<uint8_t>*>(field) = blob;
                *k.blobSize(*this) = static_cast<int>(size);
                break;
            }
        }
        applyLoadRules();
        if (equalsNoCase(name, "Ratio")) output.RenderSource = output.Ratio == 4 ? 1 : 0;
        if (equalsNoCase(name, "OutputPath")) input.CacheFile = cacheFilePath();
        return {};
    }
    return "no such setting";
}

}  // namespace zembra

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

// Flag: an on/off setting. It reads as on for any nonzero number, as every
// reader of the value has always tested it, and is written as 0 or 1.
enum class Kind { Int, Flag, Real, Text, Blob };

struct Key {
    const char* section;
    const char* name;
    Kind kind;
    const char* def;  // INI text of the default; nullptr for OutputPath and blobs
    void* (*field)(SettingsStore&);
    int* (*blobSize)(SettingsStore&);  // blobs only: their size key
};

// One row of the key table: the INI section and key as the file spells them,
// and the field that holds the value.
#define ZK_FIELD(rec, sec, key, kind, field, def)                                             \
    {                                                                                         \
        sec, key, kind, def, +[](SettingsStore& s) -> void* { return &s.rec.field; }, nullptr \
    }
#define ZK_INT(rec, sec, key, field, def) ZK_FIELD(rec, sec, key, Kind::Int, field, def)
#define ZK_FLAG(rec, sec, key, field, def) ZK_FIELD(rec, sec, key, Kind::Flag, field, def)
#define ZK_REAL(rec, sec, key, field, def) ZK_FIELD(rec, sec, key, Kind::Real, field, def)
#define ZK_TEXT(rec, sec, key, field, def) ZK_FIELD(rec, sec, key, Kind::Text, field, def)
#define ZK_BLOB(rec, sec, key, field, sizeField)                                                \
    {                                                                                           \
        sec, key, Kind::Blob, nullptr, +[](SettingsStore& s) -> void* { return &s.rec.field; }, \
            +[](SettingsStore& s) -> int* { return &s.rec.sizeField; }                          \
    }

#define IN_INT(key, field, def) ZK_INT(input, kInputSection, key, field, def)
#define IN_FLAG(key, field, def) ZK_FLAG(input, kInputSection, key, field, def)
#define OUT_INT(key, field, def) ZK_INT(output, kOutputSection, key, field, def)
#define OUT_FLAG(key, field, def) ZK_FLAG(output, kOutputSection, key, field, def)
#define OUT_REAL(key, field, def) ZK_REAL(output, kOutputSection, key, field, def)

// Load and save order: input, output, application, MP3.
const Key kKeys[] = {
    IN_INT("AudioTrack", audioTrack, "0"),
    IN_INT("Subtitle", subtitle, "0"),
    IN_INT("DownSampling", downSampling, "0"),
    IN_FLAG("UseASPI", useAspi, "1"),
    IN_INT("FrameRate", frameRate, "1"),
    IN_INT("SubOffset", subtitleOffset, "0"),
    IN_FLAG("Detect24Fps", detect24Fps, "1"),
    IN_FLAG("Force24", force24Fps, "1"),
    IN_INT("PGC", titleIndex, "0"),
    IN_INT("Angle", angle, "1"),
    IN_INT("iDCT", idct, "0"),
    IN_FLAG("SubColor", subtitleColors, "1"),
    IN_INT("OverLapped", splitOverlap, "0"),
    IN_FLAG("ShutDown", shutDown, "0"),
    IN_FLAG("LuminanceFilter", luminanceFilter, "0"),
    IN_INT("LuminanceGain", luminanceGain, "128"),
    IN_INT("LuminanceOffset", luminanceOffset, "0"),
    IN_FLAG("AVSynch", avSync, "0"),
    IN_INT("Deinterlace", deinterlace, "0"),
    IN_FLAG("Dolby", dolby, "1"),
    IN_INT("SaveBufferLocation", saveBufferLocation, "0"),
    IN_INT("SaveBufferSize", saveBufferSize, "10"),
    ZK_TEXT(input, kInputSection, "AC3File", ac3File, "none.ac3"),
    ZK_REAL(input, kInputSection, "AC3Gain", ac3Gain, "3.0"),
    IN_INT("Volume", volume, "0"),
    IN_INT("RenderMode", renderMode, "0"),

    ZK_TEXT(output, kOutputSection, "LastOutput", outputName, "none"),
    OUT_INT("MPEGStream", mpegStream, "0"),
    OUT_INT("StreamTypeSelected", formatIndex, "0"),
    OUT_INT("Width", width, "352"),
    OUT_INT("Height", height, "288"),
    OUT_INT("MaxFrames", maxFrames, "10000"),
    OUT_INT("CPU", cpu, "0"),
    OUT_INT("VideoBitRate", videoBitRate, "150"),
    OUT_INT("MaxVideoBitRate", maxVideoBitRate, "2600"),
    OUT_INT("AudioBitRate", audioBitRate, "11"),
    OUT_INT("MotionSearch", motionSearch, "0"),
    OUT_INT("SplitMode", splitMode, "5"),
    OUT_INT("Volume", splitSizeMB, "730"),
    OUT_INT("Ratio", zoomMode, "0"),
    OUT_INT("VideoResize", videoResize, "2"),
    OUT_INT("Render", renderInterval, "25"),
    OUT_INT("PaddMin", paddingMin, "30"),
    OUT_INT("PaddMax", paddingMax, "90"),
    OUT_FLAG("OverWrite", overwrite, "0"),
    OUT_INT("DCT", dct, "0"),
    OUT_INT("VBV", vbvBufferSize, "20"),
    OUT_INT("MultiPass", multiPass, "0"),
    OUT_INT("DoAVIAudio", aviAudio, "2"),
    OUT_FLAG("DoAVIVideo", aviVideo, "1"),
    OUT_FLAG("Pulldown", pulldown, "0"),
    OUT_INT("ExportYUV", exportYuv, "1"),
    OUT_INT("UseVcdWizard", useVcdWizard, "0"),
    OUT_INT("QuantMat", quantMatrix, "0"),
    OUT_FLAG("Enable2Pass", twoPass, "0"),
    OUT_INT("AdaptiveQuant", adaptiveQuant, "0"),
    OUT_REAL("MuxRate", muxRate, "1.4"),
    OUT_REAL("X1", cropLeft, "0.0"),
    OUT_REAL("X2", cropRight, "1.0"),
    OUT_REAL("Y1", cropTop, "0.0"),
    OUT_REAL("Y2", cropBottom, "1.0"),
    ZK_TEXT(output, kOutputSection, "AVIVideoC1", compressorName, "None"),
    OUT_INT("AVIfccHandler", compressorHandler, "0"),
    OUT_INT("AVIfccType", compressorType, "0"),
    OUT_INT("AVIVideoP1Settings_Size", pass1StateSize, "0"),
    ZK_BLOB(output, kOutputSection, "AVIVideoP1Settings", pass1State, pass1StateSize),
    OUT_INT("AVIVideoP2Settings_Size", pass2StateSize, "0"),
    ZK_BLOB(output, kOutputSection, "AVIVideoP2Settings", pass2State, pass2StateSize),

    ZK_TEXT(app, kAppSection, "OutputPath", outputPath, nullptr),
    ZK_INT(app, kAppSection, "Prority", priority, "0"),
    ZK_INT(app, kAppSection, "Threads", threads, "0"),

    ZK_INT(app, kLameSection, "BitRate", mp3BitRate, "192"),
    ZK_INT(app, kLameSection, "Stereo", mp3ChannelMode, "0"),
    ZK_INT(app, kLameSection, "Quality", mp3Quality, "3"),
    ZK_INT(app, kLameSection, "Lowpass", mp3Lowpass, "19500"),
    ZK_INT(app, kLameSection, "Highpass", mp3Highpass, "-1"),
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

// An on/off key: any nonzero number is on; a missing or empty value gives
// the default.
bool parseFlag(std::optional<std::string_view> text, const char* def) {
    const int fallback = profile::parseInt(def, 0);
    return (text ? profile::parseInt(*text, fallback) : fallback) != 0;
}

std::string formatFlag(bool on) { return std::string(1, on ? '1' : '0'); }

bool validBlobSize(int size) { return size > 0 && size <= kMaxCompressorState; }

}  // namespace

int threadCount(const ApplicationSettings& app) {
    if (app.threads > 0) return app.threads;
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
            case Kind::Flag:
                *static_cast<bool*>(field) = parseFlag(value, k.def);
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
    output.correct43 = false;
    output.renderSource = output.zoomMode == 4;
    output.showResolution = true;
    output.previewAspect = 1.12;
    input.duration = 0.0;
    input.audioId = -1;
    input.subtitleId = 255;
    input.cacheFile = cacheFilePath();
}

void SettingsStore::applyLoadRules() {
    if (app.priority < 0 || app.priority > 3) app.priority = 0;
    // A negative count means nothing: the default. A huge one would only
    // multiply the frames in flight.
    if (app.threads < 0) app.threads = 0;
    app.threads = std::min(app.threads, kMaxThreads);
    // No output carries a side beyond kMaxOutputSide, and the picture
    // buffers of a larger one would not even fit in memory.
    output.width = std::clamp(output.width, kMinOutputSide, kMaxOutputSide);
    output.height = std::clamp(output.height, kMinOutputSide, kMaxOutputSide);
    // The index selects a table entry; one outside the table would read past it.
    if (input.frameRate < 0 || input.frameRate >= FrameRateTable::kCount) input.frameRate = 1;
    // Outside the Split list, or a custom size below 1 MB, the rip would
    // start a new piece after every frame: such values get their defaults.
    if (output.splitMode < 0 || output.splitMode >= kSplitCount) output.splitMode = kSplitCustom;
    if (output.splitSizeMB < 1) output.splitSizeMB = 730;
    // Past the list's end the Layer II encoder and the multiplexer would
    // each fall back to a rate of their own.
    if (output.audioBitRate < 0 || output.audioBitRate >= kAudioBitRateCount)
        output.audioBitRate = 11;
    output.outputName = withOutputExtension(output.outputName, output.mpegStream);
    if (!app.outputPath.empty()) app.outputPath = withTrailingSlash(app.outputPath);
}

std::string SettingsStore::cacheFilePath() const {
    std::error_code ec;
    if (!app.outputPath.empty() && std::filesystem::is_directory(app.outputPath, ec))
        return withTrailingSlash(app.outputPath) + "hdcache.dat";
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
            case Kind::Flag:
                text = formatFlag(*static_cast<const bool*>(field));
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
            case Kind::Flag:
                file.set(k.section, k.name, formatFlag(*static_cast<const bool*>(field)));
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

// What --set takes for a number key: empty (the key's zero, as in the file),
// a whole number (decimal, or hex after 0x) or, for a real, a finite decimal.
// A word would be read as 0 and stored without a sign of the typo.
bool isNumberText(std::string_view text, bool real) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return true;
    const std::string s(text.substr(first, text.find_last_not_of(" \t") - first + 1));
    char* end = nullptr;
    if (real) {
        const double v = std::strtod(s.c_str(), &end);
        return *end == '\0' && std::isfinite(v);
    }
    size_t at = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    const bool hex = s.size() > at + 2 && s[at] == '0' && (s[at + 1] == 'x' || s[at + 1] == 'X');
    if (hex) at += 2;
    const char* digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
    return at < s.size() && s.find_first_not_of(digits, at) == std::string::npos;
}

std::string SettingsStore::set(std::string_view sectionDotKey, std::string_view value) {
    size_t dot = sectionDotKey.find('.');
    if (dot == std::string_view::npos) return "expected Section.Key";
    std::string_view section = sectionDotKey.substr(0, dot);
    std::string_view name = sectionDotKey.substr(dot + 1);
    for (const Key& k : kKeys) {
        if (!equalsNoCase(section, k.section) || !equalsNoCase(name, k.name)) continue;
        if ((k.kind == Kind::Int || k.kind == Kind::Flag) && !isNumberText(value, false))
            return "takes a whole number, not '" + std::string(value) + "'";
        if (k.kind == Kind::Real && !isNumberText(value, true))
            return "takes a number, not '" + std::string(value) + "'";
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
            case Kind::Flag:
                *static_cast<bool*>(field) = parseFlag(value, "0");  // as an int key: empty is 0
                break;
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
        if (equalsNoCase(name, "Ratio")) output.renderSource = output.zoomMode == 4;
        if (equalsNoCase(name, "OutputPath")) input.cacheFile = cacheFilePath();
        return {};
    }
    return "no such setting";
}

}  // namespace zembra

#pragma once
// The three process-wide settings records and their INI file "options.ini".
// Each field is named for what it holds; the key table in settings_store.cpp
// pairs it with its INI key, whose spelling ("Prority", "PaddMin", "X1" ...)
// the stored files fix. A default-constructed record holds the defaults of
// the key table. On/off settings are `bool`: the file holds them as 0 or 1,
// and any other number in it reads as on.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembra {

class ProfileFile;

inline constexpr const char* kAppSection = "Zembra_App";
inline constexpr const char* kLameSection = "Zembra_Lame";
inline constexpr const char* kInputSection = "Zembra_InputSettings";
inline constexpr const char* kOutputSection = "Zembra_OutputSettings";

struct ApplicationSettings {
    // Zembra_App
    std::string outputPath;  // always ends in '/'
    int priority = 0;        // 0 Normal, 1 Idle, 2 High, 3 RealTime
    int threads = 0;         // worker threads: 0 one per core, 1 a single-threaded run
    // Zembra_Lame
    int mp3BitRate = 192;
    int mp3ChannelMode = 0;
    int mp3Quality = 3;
    int mp3Lowpass = 19500;
    int mp3Highpass = -1;
};

struct InputSettings {
    int audioTrack = 0;
    int subtitle = 0;
    int downSampling = 0;
    bool useAspi = true;
    int frameRate = 1;
    int subtitleOffset = 0;
    bool detect24Fps = true;
    bool force24Fps = true;
    int titleIndex = 0;
    int angle = 1;
    int idct = 0;
    bool subtitleColors = true;
    int splitOverlap = 0;
    bool shutDown = false;
    bool luminanceFilter = false;
    int luminanceGain = 128;
    int luminanceOffset = 0;
    bool avSync = false;
    int deinterlace = 0;
    bool dolby = true;
    int saveBufferLocation = 0;
    int saveBufferSize = 10;
    std::string ac3File = "none.ac3";
    double ac3Gain = 3.0;  // AC-3 output gain handed to the decoder
    int volume = 0;        // stored and restored only
    int renderMode = 0;    // stored and restored only

    // Run-time fields, never stored.
    std::string sourcePath;             // IFO (or VOB) path of the current source
    std::vector<std::string> vobFiles;  // VOB file list of the current source
    int audioId = -1;                   // selected audio stream id, -1 none
    int audioFormat = 0;                // its format byte
    int subtitleId = 255;               // selected subtitle stream id, 255 none
    uint32_t startSector = 0;           // first sector of the title's first cell
    double duration = 0.0;              // title duration in seconds, fraction kept
    double sourceFrameRate = 0.0;
    int sourceWidth = 0;
    int sourceHeight = 0;
    int sourceAspect = 0;  // SourceFacts::aspectRatio of the opened title
    int chapterFrom = 0;   // chapters to rip, from 1 as players number them;
    int chapterTo = 0;     // 0: the whole title
    int chromaFormat = 0;
    std::string cacheFile;  // "hdcache.dat" path for the title reader
};

// The most worker threads a rip asks for; more would only cost memory.
inline constexpr int kMaxThreads = 64;
// The number of threads `Threads` stands for on this machine (0: one per
// core, at least 1).
int threadCount(const ApplicationSettings& app);

// Entries of the AudioBitRate list (32 ... 384 kbit/s).
inline constexpr int kAudioBitRateCount = 14;

struct OutputSettings {
    std::string outputName = "none";
    int mpegStream = 0;  // 0 MPEG-1, 1 MPEG-2, 2 and above AVI
    int formatIndex = 0;
    int width = 352;
    int height = 288;
    int maxFrames = 10000;
    int cpu = 0;
    int videoBitRate = 150;
    int maxVideoBitRate = 2600;
    int audioBitRate = 11;  // entry of 32, 48, ... 384 kbit/s (kAudioBitRateCount entries)
    int motionSearch = 0;
    int adaptiveQuant = 0;  // the Best level's adaptive quantisation, 0..kAdaptiveQuantLevels - 1
    int splitMode = 5;
    int splitSizeMB = 730;
    int zoomMode = 0;
    int videoResize = 2;
    int renderInterval = 25;
    int paddingMin = 30;
    int paddingMax = 90;
    bool overwrite = false;
    int dct = 0;
    int vbvBufferSize = 20;
    int multiPass = 0;
    int aviAudio = 2;
    bool aviVideo = true;
    bool pulldown = false;
    int exportYuv = 1;
    int useVcdWizard = 0;
    int quantMatrix = 0;
    bool twoPass = false;
    double muxRate = 1.4;
    double cropLeft = 0.0;
    double cropRight = 1.0;
    double cropTop = 0.0;
    double cropBottom = 1.0;
    std::string compressorName = "None";
    int compressorHandler = 0;
    int compressorType = 0;
    int pass1StateSize = 0;
    std::vector<uint8_t> pass1State;  // compressor state, pass 1
    int pass2StateSize = 0;
    std::vector<uint8_t> pass2State;  // compressor state, pass 2

    // Run-time fields, never stored.
    bool correct43 = false;     // 4:3 correction of the preview (display only)
    bool renderSource = false;  // preview shows the source with the crop rectangle
    bool showResolution = true;
    double previewAspect = 1.12;  // stands for "4/3"
};

// Output frame rates selected by InputSettings::frameRate.
struct FrameRateEntry {
    int numerator;
    int denominator;
    const char* label;  // as the lists show it
    double fps() const { return static_cast<double>(numerator) / denominator; }
};

struct FrameRateTable {
    static constexpr int kCount = 5;
    static constexpr FrameRateEntry kEntries[kCount] = {
        {24000, 1001, "23.976 (NTSC)"}, {24, 1, "24.0"}, {25, 1, "25.0 (PAL)"},
        {30000, 1001, "29.97 (NTSC)"},  {30, 1, "30.0"},
    };
    // The entry of an index; an index outside the table gives entry 1 (24.0),
    // the default, rather than reading past it.
    static const FrameRateEntry& at(int index) {
        return kEntries[(index >= 0 && index < kCount) ? index : 1];
    }
    static double fps(int index) { return at(index).fps(); }
};

// Largest compressor state block taken from options.ini; a larger size key is
// read as no state at all.
inline constexpr int kMaxCompressorState = 1 << 20;

class SettingsStore {
public:
    SettingsStore() = default;
    // optionsFile: path of "options.ini"; documentsDir: the default output folder.
    SettingsStore(std::filesystem::path optionsFile, std::string documentsDir);

    void setOptionsFile(std::filesystem::path optionsFile) {
        optionsFile_ = std::move(optionsFile);
    }
    void setDocumentsFolder(std::string documentsDir);
    const std::filesystem::path& optionsFile() const { return optionsFile_; }
    const std::string& documentsFolder() const { return documentsDir_; }

    // Resets the input and output records and reads every key of options.ini
    // (input, output, application, MP3), then sets the run-time fields.
    void LoadSettings();
    // The last LoadSettings found options.ini but could not read it (no
    // permission, too large): the defaults are in use, and it is not saved over.
    bool optionsUnreadable() const { return optionsUnreadable_; }
    // The same from a profile already in memory.
    void loadFrom(const ProfileFile& file);
    // Writes every key back in the same order; a blob only when its size key
    // is non-zero. False when the file could not be written.
    [[nodiscard]] bool SaveSettings() const;
    // Sets every key in a profile held in memory, as SaveSettings does.
    void saveTo(ProfileFile& file) const;

    // "hdcache.dat" in the output folder, or in the documents folder when the
    // output folder does not exist.
    std::string cacheFilePath() const;

    // Every stored setting as ("Section.Key", value text) in load order.
    std::vector<std::pair<std::string, std::string>> list() const;
    // Sets one stored setting from "Section.Key" and its INI text (sections
    // and keys without regard to case) and applies the load rules again.
    // Returns an empty string, or what was wrong.
    std::string set(std::string_view sectionDotKey, std::string_view value);

    ApplicationSettings app;
    InputSettings input;
    OutputSettings output;

private:
    void applyLoadRules();

    std::filesystem::path optionsFile_;
    bool optionsUnreadable_ = false;
    std::string documentsDir_;
};

// The output name with the extension of the output kind: ".avi" when
// mpegStream is above 1, else ".mpg". "none" (its first four characters)
// stays as it is.
std::string withOutputExtension(const std::string& name, int mpegStream);

}  // namespace zembra

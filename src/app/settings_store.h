#pragma once
// The three process-wide settings records and their INI file "options.ini".
// Field names are the INI key names, so `output.VideoBitRate` is the value of
// key "VideoBitRate" of section Zembra_OutputSettings. A default-constructed
// record holds the defaults of the key tables.

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
    std::string OutputPath;  // always ends in '/'
    int Prority = 0;         // 0 Normal, 1 Idle, 2 High, 3 RealTime
    int Threads = 0;         // worker threads: 0 one per core, 1 a single-threaded run
    // Zembra_Lame
    int BitRate = 192;
    int Stereo = 0;
    int Quality = 3;
    int Lowpass = 19500;
    int Highpass = -1;
};

struct InputSettings {
    int AudioTrack = 0;
    int Subtitle = 0;
    int DownSampling = 0;
    int UseASPI = 1;
    int FrameRate = 1;
    int SubOffset = 0;
    int Detect24Fps = 1;
    int Force24 = 1;
    int PGC = 0;
    int Angle = 1;
    int iDCT = 0;
    int SubColor = 1;
    int OverLapped = 0;
    int ShutDown = 0;
    int LuminanceFilter = 0;
    int LuminanceGain = 128;
    int LuminanceOffset = 0;
    int AVSynch = 0;
    int Deinterlace = 0;
    int Dolby = 1;
    int SaveBufferLocation = 0;
    int SaveBufferSize = 10;
    std::string AC3File = "none.ac3";
    double AC3Gain = 3.0;  // AC-3 output gain handed to the decoder
    int Volume = 0;        // stored and restored only
    int RenderMode = 0;    // stored and restored only

    // Run-time fields, never stored.
    std::string SourcePath;             // IFO (or VOB) path of the current source
    std::vector<std::string> VobFiles;  // VOB file list of the current source
    int AudioId = -1;                   // selected audio stream id, -1 none
    int AudioFormat = 0;                // its format byte
    int SubtitleId = 255;               // selected subtitle stream id, 255 none
    uint32_t StartSector = 0;           // first sector of the title's first cell
    double Duration = 0.0;              // title duration in seconds, fraction kept
    double SourceFrameRate = 0.0;
    int SourceWidth = 0;
    int SourceHeight = 0;
    int SourceAspect = 0;  // SourceFacts::aspectRatio of the opened title
    int ChapterFrom = 0;   // chapters to rip, from 1 as players number them;
    int ChapterTo = 0;     // 0: the whole title
    int ChromaFormat = 0;
    std::string CacheFile;  // "hdcache.dat" path for the title reader
};

// The most worker threads a rip asks for; more would only cost memory.
inline constexpr int kMaxThreads = 64;
// The number of threads `Threads` stands for on this machine (0: one per
// core, at least 1).
int threadCount(const ApplicationSettings& app);

// Entries of the AudioBitRate list (32 ... 384 kbit/s).
inline constexpr int kAudioBitRateCount = 14;

struct OutputSettings {
    std::string LastOutput = "none";
    int MPEGStream = 0;  // 0 MPEG-1, 1 MPEG-2, 2 and above AVI
    int StreamTypeSelected = 0;
    int Width = 352;
    int Height = 288;
    int MaxFrames = 10000;
    int CPU = 0;
    int VideoBitRate = 150;
    int MaxVideoBitRate = 2600;
    int AudioBitRate = 11;  // entry of 32, 48, ... 384 kbit/s (kAudioBitRateCount entries)
    int MotionSearch = 0;
    int AdaptiveQuant = 0;  // the Best level's adaptive quantisation, 0..kAdaptiveQuantLevels - 1
    int SplitMode = 5;
    int Volume = 730;
    int Ratio = 0;
    int VideoResize = 2;
    int Render = 25;
    int PaddMin = 30;
    int PaddMax = 90;
    int OverWrite = 0;
    int DCT = 0;
    int VBV = 20;
    int MultiPass = 0;
    int DoAVIAudio = 2;
    int DoAVIVideo = 1;
    int Pulldown = 0;
    int ExportYUV = 1;
    int UseVcdWizard = 0;
    int QuantMat = 0;
    int Enable2Pass = 0;
    double MuxRate = 1.4;
    double X1 = 0.0;
    double X2 = 1.0;
    double Y1 = 0.0;
    double Y2 = 1.0;
    std::string AVIVideoC1 = "None";
    int AVIfccHandler = 0;
    int AVIfccType = 0;
    int AVIVideoP1Settings_Size = 0;
    std::vector<uint8_t> AVIVideoP1Settings;  // compressor state, pass 1
    int AVIVideoP2Settings_Size = 0;
    std::vector<uint8_t> AVIVideoP2Settings;  // compressor state, pass 2

    // Run-time fields, never stored.
    int Correct43 = 0;     // 4:3 correction of the preview (display only)
    int RenderSource = 0;  // preview shows the source with the crop rectangle
    int ShowResolution = 1;
    double PreviewAspect = 1.12;  // stands for "4/3"
};

// Output frame rates selected by InputSettings::FrameRate.
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

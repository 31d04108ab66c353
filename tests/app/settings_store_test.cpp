#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/profile.h"
#include "support/temp_dir.h"

namespace zembra {
namespace {

using testing::TempDir;

struct Fixture {
    TempDir tmp;
    SettingsStore store{tmp / "options.ini", tmp.dir() + "Documents"};
    std::filesystem::path options() const { return tmp / "options.ini"; }
    void load(const std::string& content) {
        tmp.write("options.ini", content);
        store.LoadSettings();
    }
    std::map<std::string, std::string> listed() const {
        auto l = store.list();
        return {l.begin(), l.end()};
    }
};

TEST(SettingsLoad, MissingFileGivesExactlyTheDefaults) {
    Fixture f;
    f.store.LoadSettings();
    std::string docs = f.tmp.dir() + "Documents/";
    EXPECT_TRUE(std::filesystem::is_directory(docs));  // created
    std::string expected =
        "Zembra_InputSettings.AudioTrack=0\nZembra_InputSettings.Subtitle=0\n"
        "Zembra_InputSettings.DownSampling=0\nZembra_InputSettings.UseASPI=1\n"
        "Zembra_InputSettings.FrameRate=1\nZembra_InputSettings.SubOffset=0\n"
        "Zembra_InputSettings.Detect24Fps=1\nZembra_InputSettings.Force24=1\n"
        "Zembra_InputSettings.PGC=0\nZembra_InputSettings.Angle=1\n"
        "Zembra_InputSettings.iDCT=0\nZembra_InputSettings.SubColor=1\n"
        "Zembra_InputSettings.OverLapped=0\nZembra_InputSettings.ShutDown=0\n"
        "Zembra_InputSettings.LuminanceFilter=0\nZembra_InputSettings.LuminanceGain=128\n"
        "Zembra_InputSettings.LuminanceOffset=0\nZembra_InputSettings.AVSynch=0\n"
        "Zembra_InputSettings.Deinterlace=0\nZembra_InputSettings.Dolby=1\n"
        "Zembra_InputSettings.SaveBufferLocation=0\nZembra_InputSettings.SaveBufferSize=10\n"
        "Zembra_InputSettings.AC3File=none.ac3\nZembra_InputSettings.AC3Gain=3.000000\n"
        "Zembra_InputSettings.Volume=0\nZembra_InputSettings.RenderMode=0\n"
        "Zembra_OutputSettings.LastOutput=none\nZembra_OutputSettings.MPEGStream=0\n"
        "Zembra_OutputSettings.StreamTypeSelected=0\nZembra_OutputSettings.Width=352\n"
        "Zembra_OutputSettings.Height=288\nZembra_OutputSettings.MaxFrames=10000\n"
        "Zembra_OutputSettings.CPU=0\nZembra_OutputSettings.VideoBitRate=150\n"
        "Zembra_OutputSettings.MaxVideoBitRate=2600\nZembra_OutputSettings.AudioBitRate=11\n"
        "Zembra_OutputSettings.MotionSearch=0\nZembra_OutputSettings.SplitMode=5\n"
        "Zembra_OutputSettings.Volume=730\nZembra_OutputSettings.Ratio=0\n"
        "Zembra_OutputSettings.VideoResize=2\nZembra_OutputSettings.Render=25\n"
        "Zembra_OutputSettings.PaddMin=30\nZembra_OutputSettings.PaddMax=90\n"
        "Zembra_OutputSettings.OverWrite=0\nZembra_OutputSettings.DCT=0\n"
        "Zembra_OutputSettings.VBV=20\nZembra_OutputSettings.MultiPass=0\n"
        "Zembra_OutputSettings.DoAVIAudio=2\nZembra_OutputSettings.DoAVIVideo=1\n"
        "Zembra_OutputSettings.Pulldown=0\nZembra_OutputSettings.ExportYUV=1\n"
        "Zembra_OutputSettings.UseVcdWizard=0\nZembra_OutputSettings.QuantMat=0\n"
        "Zembra_OutputSettings.Enable2Pass=0\nZembra_OutputSettings.AdaptiveQuant=0\n"
        "Zembra_OutputSettings.MuxRate=1.400000\n"
        "Zembra_OutputSettings.X1=0.000000\nZembra_OutputSettings.X2=1.000000\n"
        "Zembra_OutputSettings.Y1=0.000000\nZembra_OutputSettings.Y2=1.000000\n"
        "Zembra_OutputSettings.AVIVideoC1=None\nZembra_OutputSettings.AVIfccHandler=0\n"
        "Zembra_OutputSettings.AVIfccType=0\nZembra_OutputSettings.AVIVideoP1Settings_Size=0\n"
        "Zembra_OutputSettings.AVIVideoP1Settings=\n"
        "Zembra_OutputSettings.AVIVideoP2Settings_Size=0\n"
        "Zembra_OutputSettings.AVIVideoP2Settings=\n"
        "Zembra_App.OutputPath=" +
        docs +
        "\nZembra_App.Prority=0\nZembra_App.Threads=0\n"
        "Zembra_Lame.BitRate=192\nZembra_Lame.Stereo=0\nZembra_Lame.Quality=3\n"
        "Zembra_Lame.Lowpass=19500\nZembra_Lame.Highpass=-1\n";
    std::string got;
    for (const auto& [k, v] : f.store.list()) got += k + "=" + v + "\n";
    EXPECT_EQ(got, expected);

    // Run-time fields.
    EXPECT_FALSE(f.store.output.renderSource);
    EXPECT_TRUE(f.store.output.showResolution);
    EXPECT_FALSE(f.store.output.correct43);
    EXPECT_DOUBLE_EQ(f.store.output.previewAspect, 1.12);
    EXPECT_EQ(f.store.input.audioId, -1);
    EXPECT_EQ(f.store.input.subtitleId, 255);
    EXPECT_EQ(f.store.input.cacheFile, docs + "hdcache.dat");
}

TEST(SettingsLoad, LoadRulesFixOutOfRangeValuesAndTheOutputExtension) {
    Fixture f;
    f.load(
        "[Zembra_OutputSettings]\nWidth=8\nHeight=-5\nLastOutput=movie.mpg\nMPEGStream=2\n"
        "Ratio=4\nAudioBitRate=14\n[Zembra_App]\nPrority=7\nThreads=-3\nOutputPath=" +
        f.tmp.dir() + "out\n[Zembra_InputSettings]\nFrameRate=9\n");
    EXPECT_EQ(f.store.output.width, 16);
    EXPECT_EQ(f.store.output.height, 16);
    EXPECT_EQ(f.store.app.priority, 0);
    EXPECT_EQ(f.store.app.threads, 0);
    EXPECT_EQ(f.store.output.outputName, "movie.avi");
    EXPECT_TRUE(f.store.output.renderSource);
    EXPECT_EQ(f.store.input.frameRate, 1);
    EXPECT_EQ(f.store.output.audioBitRate, 11);
    EXPECT_EQ(f.store.app.outputPath, f.tmp.dir() + "out/");
    // The output folder does not exist: the read buffer goes to the documents folder.
    EXPECT_EQ(f.store.input.cacheFile, f.tmp.dir() + "Documents/hdcache.dat");
    std::filesystem::create_directories(f.tmp / "out");
    EXPECT_EQ(f.store.cacheFilePath(), f.tmp.dir() + "out/hdcache.dat");

    f.load("[Zembra_OutputSettings]\nLastOutput=clip\nMPEGStream=0\n");
    EXPECT_EQ(f.store.output.outputName, "clip.mpg");
    f.load("[Zembra_OutputSettings]\nLastOutput=a.b.avi\nMPEGStream=1\n");
    EXPECT_EQ(f.store.output.outputName, "a.b.mpg");
    f.load("[Zembra_OutputSettings]\nLastOutput=dir.d/clip\nMPEGStream=2\n");
    EXPECT_EQ(f.store.output.outputName, "dir.d/clip.avi");
    f.load("[Zembra_OutputSettings]\nLastOutput=none.mpg\nMPEGStream=3\n");
    EXPECT_EQ(f.store.output.outputName, "none.mpg");
    f.load("[Zembra_OutputSettings]\nX1=nan\nX2=inf\nMuxRate=2.5\n");
    EXPECT_DOUBLE_EQ(f.store.output.cropLeft, 0.0);
    EXPECT_DOUBLE_EQ(f.store.output.cropRight, 1.0);
    EXPECT_DOUBLE_EQ(f.store.output.muxRate, 2.5);
    f.load("[Zembra_App]\nThreads=100000\n");
    EXPECT_EQ(f.store.app.threads, kMaxThreads);
    EXPECT_EQ(threadCount(f.store.app), kMaxThreads);
    f.load("[Zembra_App]\nThreads=3\n");
    EXPECT_EQ(threadCount(f.store.app), 3);
    // 0 stands for the machine's cores, never for no thread at all.
    f.load("[Zembra_App]\nThreads=0\n");
    EXPECT_GE(threadCount(f.store.app), 1);
}

TEST(SettingsBlobs, StateSurvivesByteForByteAndSizeZeroWritesNothing) {
    Fixture f;
    const uint8_t state[5] = {1, 2, 0xAB, 0, 0xFF};
    ASSERT_TRUE(profile::writeString(kOutputSection, "AVIVideoP1Settings_Size", "5", f.options()));
    ASSERT_TRUE(profile::writeStruct(kOutputSection, "AVIVideoP1Settings", state, 5, f.options()));
    f.store.LoadSettings();
    ASSERT_EQ(f.store.output.pass1State.size(), 5u);
    EXPECT_TRUE(std::equal(state, state + 5, f.store.output.pass1State.begin()));
    EXPECT_TRUE(f.store.output.pass2State.empty());

    TempDir other;
    SettingsStore copy(other / "options.ini", other.dir());
    copy.app = f.store.app;
    copy.input = f.store.input;
    copy.output = f.store.output;
    ASSERT_TRUE(copy.SaveSettings());
    ProfileFile saved(other / "options.ini");
    EXPECT_EQ(saved.get(kOutputSection, "AVIVideoP1Settings").value_or(""), "0102AB00FFAD");
    EXPECT_FALSE(saved.get(kOutputSection, "AVIVideoP2Settings"));
    EXPECT_EQ(saved.get(kOutputSection, "AVIVideoP2Settings_Size").value_or(""), "0");
}

TEST(SettingsBlobs, BadStateReadsAsZeroesAndHostileSizesAsNone) {
    Fixture f;
    f.load(
        "[Zembra_OutputSettings]\nAVIVideoP1Settings_Size=4\nAVIVideoP1Settings=0102\n"
        "AVIVideoP2Settings_Size=2000000000\nAVIVideoP2Settings=00\n");
    EXPECT_EQ(f.store.output.pass1State, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(f.store.output.pass2StateSize, 0);
    EXPECT_TRUE(f.store.output.pass2State.empty());
    f.load("[Zembra_OutputSettings]\nAVIVideoP1Settings_Size=-3\n");
    EXPECT_EQ(f.store.output.pass1StateSize, 0);
    EXPECT_TRUE(f.store.output.pass1State.empty());
}

TEST(SettingsSave, EveryValueRoundTripsAndForeignKeysStay) {
    Fixture f;
    f.tmp.write("options.ini", "[Mine]\nKeep=yes\n[Zembra_InputSettings]\nUnknown=1\n");
    f.store.LoadSettings();
    f.store.input.audioTrack = 3;
    f.store.input.ac3File = "/tmp/out.ac3";
    f.store.input.ac3Gain = 1.5;
    f.store.output.outputName = "film.avi";
    f.store.output.mpegStream = 2;
    f.store.output.cropRight = 0.875;
    f.store.output.compressorName = "XviD MPEG-4 Codec";
    f.store.output.compressorHandler = 0x44495658;
    f.store.app.mp3Lowpass = -1;
    f.store.app.priority = 2;
    f.store.app.threads = 1;
    ASSERT_TRUE(f.store.SaveSettings());
    auto before = f.listed();

    SettingsStore again(f.options(), f.tmp.dir() + "Documents");
    again.LoadSettings();
    auto l = again.list();
    std::map<std::string, std::string> after(l.begin(), l.end());
    EXPECT_EQ(after, before);
    ProfileFile saved(f.options());
    EXPECT_EQ(saved.get("Mine", "Keep").value_or(""), "yes");
    EXPECT_EQ(saved.get(kInputSection, "Unknown").value_or(""), "1");
    EXPECT_EQ(saved.get(kOutputSection, "X2").value_or(""), "0.875000");
    EXPECT_EQ(saved.get(kInputSection, "AC3Gain").value_or(""), "1.500000");
    EXPECT_EQ(saved.get(kAppSection, "Threads").value_or(""), "1");
}

// The on/off keys: any nonzero number in the file is on, an empty value is
// the default, and they are written back as 0 or 1 in their places.
TEST(SettingsFlags, NonzeroReadsAsOnAndIsWrittenAsOne) {
    const std::vector<std::pair<const char*, const char*>> flags = {
        {kInputSection, "UseASPI"},    {kInputSection, "Detect24Fps"},
        {kInputSection, "Force24"},    {kInputSection, "SubColor"},
        {kInputSection, "ShutDown"},   {kInputSection, "LuminanceFilter"},
        {kInputSection, "AVSynch"},    {kInputSection, "Dolby"},
        {kOutputSection, "OverWrite"}, {kOutputSection, "DoAVIVideo"},
        {kOutputSection, "Pulldown"},  {kOutputSection, "Enable2Pass"},
    };
    auto fileWith = [&](const std::string& value) {
        std::string text;
        for (const char* section : {kInputSection, kOutputSection}) {
            text += "[" + std::string(section) + "]\n";
            for (const auto& [s, key] : flags)
                if (s == section) text += std::string(key) + "=" + value + "\n";
        }
        return text;
    };
    for (const auto& [stored, expected] : std::vector<std::pair<std::string, std::string>>{
             {"2", "1"}, {"-1", "1"}, {"0x10", "1"}, {"1", "1"}, {"0", "0"}}) {
        SCOPED_TRACE(stored);
        Fixture f;
        f.load(fileWith(stored));
        const auto listed = f.listed();
        for (const auto& [section, key] : flags)
            EXPECT_EQ(listed.at(std::string(section) + "." + key), expected) << key;
        ASSERT_TRUE(f.store.SaveSettings());
        ProfileFile saved(f.options());
        for (const auto& [section, key] : flags)
            EXPECT_EQ(saved.get(section, key).value_or(""), expected) << key;
        f.store.LoadSettings();
        EXPECT_EQ(f.listed(), listed);
    }
    Fixture f;
    f.load("[Zembra_InputSettings]\nDolby=\nShutDown=\n[Zembra_OutputSettings]\nEnable2Pass=2\n");
    EXPECT_TRUE(f.store.input.dolby);  // its default
    EXPECT_FALSE(f.store.input.shutDown);
    EXPECT_TRUE(f.store.output.twoPass);
    EXPECT_EQ(f.store.set("Zembra_InputSettings.Dolby", "0"), "");
    EXPECT_FALSE(f.store.input.dolby);
    EXPECT_EQ(f.store.set("Zembra_OutputSettings.Pulldown", "-3"), "");
    EXPECT_TRUE(f.store.output.pulldown);
    EXPECT_EQ(f.listed().at("Zembra_OutputSettings.Pulldown"), "1");
}

TEST(SettingsLoad, HostileFileNeverCrashesAndFallsBackToDefaults) {
    Fixture f;
    std::string content = "Width=8\nPrority=3\n";  // no section
    content += "[Zembra_OutputSettings]\nHeight=576\nHeight=100\n";
    content += "AVIVideoC1=" + std::string(100 * 1024, 'c') + "\n";
    content += std::string(
        "VideoBitRate=12\0"
        "34\n",
        17);
    content += std::string("\0MaxFrames=5\n", 13);
    content += "AVIVideoP1Settings_Size=5\nAVIVideoP1Settings=0102AB00F\n";
    content += "AVIVideoP2Settings_Size=3\nAVIVideoP2Settings=zz\n";
    content += "X1=\nY2=garbage\nMuxRate=1e999\n[Zembra_App\nPrority=2\n[]\n=x\n";
    f.load(content);
    EXPECT_EQ(f.store.output.width, 352);
    EXPECT_EQ(f.store.output.height, 576);  // the first of duplicate keys
    EXPECT_EQ(f.store.output.compressorName.size(), 100u * 1024);
    EXPECT_EQ(f.store.output.videoBitRate, 12);
    EXPECT_EQ(f.store.output.maxFrames, 10000);
    EXPECT_EQ(f.store.output.pass1State, std::vector<uint8_t>(5, 0));
    EXPECT_EQ(f.store.output.pass2State, std::vector<uint8_t>(3, 0));
    EXPECT_DOUBLE_EQ(f.store.output.cropLeft, 0.0);
    EXPECT_DOUBLE_EQ(f.store.output.cropBottom, 0.0);  // a standard conversion of "garbage"
    EXPECT_DOUBLE_EQ(f.store.output.muxRate, 1.4);
    // An unclosed header still names its section.
    EXPECT_EQ(f.store.app.priority, 2);
    // Saving keeps what it cannot parse and reads back the same.
    auto before = f.listed();
    ASSERT_TRUE(f.store.SaveSettings());
    f.store.LoadSettings();
    EXPECT_EQ(f.listed(), before);
    EXPECT_NE(TempDir::read(f.options()).find("Width=8\nPrority=3\n"), std::string::npos);
}

TEST(SettingsSave, TextsWithBlanksOrQuotesSurvive) {
    Fixture f;
    f.store.LoadSettings();
    f.store.output.compressorName = " Codec with blanks ";
    f.store.input.ac3File = "\"quoted.ac3\"";
    f.store.app.outputPath = "/media/my films /";
    ASSERT_TRUE(f.store.SaveSettings());
    f.store.LoadSettings();
    EXPECT_EQ(f.store.output.compressorName, " Codec with blanks ");
    EXPECT_EQ(f.store.input.ac3File, "\"quoted.ac3\"");
    EXPECT_EQ(f.store.app.outputPath, "/media/my films /");
}

TEST(SettingsSet, ByNameWithTheLoadRules) {
    Fixture f;
    f.store.LoadSettings();
    EXPECT_EQ(f.store.set("zembra_outputsettings.width", "8"), "");
    EXPECT_EQ(f.store.output.width, 16);
    EXPECT_EQ(f.store.set("Zembra_OutputSettings.Ratio", "4"), "");
    EXPECT_TRUE(f.store.output.renderSource);
    EXPECT_EQ(f.store.set("Zembra_OutputSettings.AVIVideoP2Settings", "0102AB00FFAD"), "");
    EXPECT_EQ(f.store.output.pass2StateSize, 5);
    EXPECT_NE(f.store.set("Zembra_OutputSettings.AVIVideoP2Settings", "0102"), "");
    EXPECT_NE(f.store.set("Zembra_OutputSettings.NoSuchKey", "1"), "");
    EXPECT_NE(f.store.set("Width", "1"), "");
}

TEST(FrameRates, TableAndSafeLookup) {
    EXPECT_DOUBLE_EQ(FrameRateTable::fps(0), 24000.0 / 1001);
    EXPECT_DOUBLE_EQ(FrameRateTable::fps(2), 25.0);
    EXPECT_DOUBLE_EQ(FrameRateTable::fps(3), 30000.0 / 1001);
    EXPECT_STREQ(FrameRateTable::at(4).label, "30.0");
    EXPECT_DOUBLE_EQ(FrameRateTable::fps(99), 24.0);
    EXPECT_DOUBLE_EQ(FrameRateTable::fps(-1), 24.0);
}

}  // namespace
}  // namespace zembra

// Two-pass AVI over the real engines: the first pass writes no sound, the
// second does, and the progress bar runs once from 0 to 100 over both.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "rip_support.h"
#include "support/recording_host.h"
#include "support/scoped_env.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct Sample {
    int progress;
    bool wavExists;
};

TEST(RipTwoPass, SoundOnlyInTheSecondPassAndOneProgressRun) {
    ZEMBRA_REQUIRE_ORACLES();
    if (!haveXvidAndMp3()) GTEST_SKIP() << "no Xvid library";
    TempDir dir;
    RecordingHost host;
    SettingsStore settings{dir / "options.ini", dir.dir()};
    settings.LoadSettings();
    EngineSet engines{host, settings};
    // A slow clock keeps the monitor's update interval at its floor of five
    // frames, so the progress bar is seen often.
    RipEngines ripEngines = engines.ripEngines();
    uint32_t now = 0;
    ripEngines.tick = [&] { return now += 100000; };
    EncodeDlg dlg(host, settings, engines.catalogue(), ripEngines);

    const fs::path out = dir / "out";
    fs::create_directories(out);
    dlg.setOutputFolderText(out.string());
    dlg.openDvdFolder(sampleDisc());
    ASSERT_EQ(dlg.rows().size(), 1u);
    host.boxes.clear();
    dlg.chooseFormat(2);
    dlg.chooseSplit(0);
    settings.output.width = 352;
    settings.output.height = 288;
    settings.output.twoPass = true;
    settings.output.aviAudio = 1;
    settings.output.overwrite = true;
    // Pass 1 writes the statistics that pass 2 spends its bits by.
    const std::string stats = "stats=" + (dir / "xvid.stats").string();
    ASSERT_EQ(engines.applyAviChoices({"XVID", {"bitrate=900", "pass=1", stats}, ""}), "");
    const auto pass1 = settings.output.pass1State;
    ASSERT_EQ(engines.applyAviChoices({"XVID", {"pass=2"}, ""}), "");
    settings.output.pass1State = pass1;
    settings.output.pass1StateSize = int(pass1.size());
    dlg.settingsChanged();

    std::vector<Sample> seen;
    const fs::path wav = out / "Title_0.wav";
    // Pumps come from the rip loop and from the engines (the frame queue,
    // the writer's close); the bar shows 100 until the first frame.
    host.onPump = [&] {
        if (!dlg.idle() && (!seen.empty() || dlg.controls.progress < 100))
            seen.push_back({dlg.controls.progress, fs::exists(wav)});
    };
    dlg.StartRip();
    host.onPump = nullptr;

    EXPECT_EQ(dlg.rowsCompleted(), 1);
    for (const auto& b : host.boxes) ADD_FAILURE() << "box: " << b.text;
    ASSERT_GT(seen.size(), 20u);
    // The bar never goes back and reaches the end only once, at the end.
    int firstPassLast = -1;
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].progress, seen[i - 1].progress) << "at sample " << i;
        EXPECT_LT(seen[i - 1].progress, 100) << "at sample " << i - 1;
    }
    for (const auto& s : seen)
        if (!s.wavExists) firstPassLast = std::max(firstPassLast, s.progress);
    // The first pass (no WAV file yet) covers the first half of the bar.
    EXPECT_GE(firstPassLast, 40);
    EXPECT_LE(firstPassLast, 50);
    EXPECT_FALSE(seen.front().wavExists);
    EXPECT_TRUE(seen.back().wavExists);
    EXPECT_GE(dlg.controls.progress, 99);
    EXPECT_GT(fs::file_size(dir / "xvid.stats"), 0u);

    // One title's worth of pictures and of sound, not two.
    const std::string avi = (out / "Title_0.avi").string();
    EXPECT_EQ(probe(avi, "stream=codec_name"), "mpeg4");
    EXPECT_EQ(streamCount(avi, "a"), 0);
    EXPECT_EQ(decodeErrors(avi), "");
    const int frames = decodedFrames(avi);
    EXPECT_NEAR(frames / 24.0, sourceSeconds(sampleDisc()), 1.0 / 24 + 1e-9);
    EXPECT_NEAR(decodedAudioSamples(wav.string()) / 44100.0, frames / 24.0, 1.0 / 24);

    // The monitor line while ripping, and the closing line with the frames
    // of one pass (less one, as the window has always counted them).
    // (sscanf rather than std::regex: GCC 12 warns inside <regex> under ASan.)
    auto isMonitorLine = [](const std::string& line) {
        int mb, h, m, s, h2, m2, s2, end = -1;
        return std::sscanf(line.c_str(),
                           "Used Size:  : %d MB,  Remain Time:  : %2d:%2d:%2d,  "
                           "Time:  : %2d:%2d:%2d %n",
                           &mb, &h, &m, &s, &h2, &m2, &s2, &end) == 7 &&
               end == int(line.size());
    };
    int monitorLines = 0;
    for (const auto& line : host.statuses) monitorLines += isMonitorLine(line);
    EXPECT_GT(monitorLines, 20);
    int shown = -1, h = 0, mi = 0, se = 0, end = -1;
    ASSERT_EQ(std::sscanf(dlg.controls.monitorLine.c_str(),
                          "None %d Frames, Total Encoding Time: %2d:%2d:%2d%n", &shown, &h, &mi,
                          &se, &end),
              4)
        << dlg.controls.monitorLine;
    EXPECT_EQ(end, int(dlg.controls.monitorLine.size()));
    EXPECT_EQ(shown, frames - 1);
}

// The statistics file is the run's own: a link that another user planted
// under the name every rip once shared is never followed, and nothing is
// left behind once the rip is over.
TEST(RipTwoPass, StatisticsArePrivateToTheRunAndRemoved) {
    ZEMBRA_REQUIRE_ORACLES();
    if (!haveXvidAndMp3()) GTEST_SKIP() << "no Xvid library";
    TempDir dir, planted, runtime;
    const fs::path victim = dir / "victim";
    fs::create_symlink(victim, planted / "zembra-xvid.stats");
    ScopedEnv tmp("TMPDIR", planted.path().string());
    ScopedEnv run("XDG_RUNTIME_DIR", runtime.path().string());

    RecordingHost host;
    SettingsStore settings{dir / "options.ini", dir.dir()};
    settings.LoadSettings();
    EngineSet engines{host, settings};
    EncodeDlg dlg(host, settings, engines.catalogue(), engines.ripEngines());
    const fs::path out = dir / "out";
    fs::create_directories(out);
    dlg.setOutputFolderText(out.string());
    dlg.openDvdFolder(sampleDisc());
    ASSERT_EQ(dlg.rows().size(), 1u);
    dlg.chooseFormat(2);
    dlg.chooseSplit(0);
    settings.output.width = 352;
    settings.output.height = 288;
    settings.output.twoPass = true;
    settings.output.aviAudio = 0;
    settings.output.overwrite = true;
    ASSERT_EQ(engines.applyAviChoices({"XVID", {"bitrate=900"}, "", 128, true}), "");
    dlg.settingsChanged();
    host.boxes.clear();
    dlg.StartRip();

    EXPECT_EQ(dlg.rowsCompleted(), 1);
    for (const auto& b : host.boxes) ADD_FAILURE() << "box: " << b.text;
    EXPECT_FALSE(fs::exists(victim)) << "the planted link was followed";
    EXPECT_TRUE(fs::is_empty(runtime.path())) << "statistics left behind";
    EXPECT_EQ(probe((out / "Title_0.avi").string(), "stream=codec_name"), "mpeg4");
}

}  // namespace
}  // namespace zembra

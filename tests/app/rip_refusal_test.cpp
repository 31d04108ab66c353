// The window's refusals before a rip starts and the failures of opening
// sources: each gives its message and leaves nothing behind. The real
// engines run behind the controller; only the user is played by the
// recording host.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "rip_support.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::RecordingHost;
using testing::TempDir;

// The main window over the real engines, its output folder empty.
struct Window {
    TempDir dir;
    RecordingHost host;
    SettingsStore settings{dir / "options.ini", dir.dir()};
    EngineSet engines{host, settings};
    std::unique_ptr<EncodeDlg> dlg;

    Window() {
        settings.LoadSettings();
        dlg =
            std::make_unique<EncodeDlg>(host, settings, engines.catalogue(), engines.ripEngines());
        fs::create_directories(out());
        dlg->setOutputFolderText(out().string());
    }
    fs::path out() const { return dir / "out"; }
    bool outputEmpty() const { return fs::is_empty(out()); }

    // The sample disc as Open DVD opens it: one row for its title set.
    void openSample() {
        dlg->openDvdFolder(testing::sampleDisc());
        ASSERT_EQ(dlg->rows().size(), 1u);
        host.boxes.clear();
    }
    // Changes to the global records, kept by the current row too.
    void changed() { dlg->settingsChanged(); }

    // Starts the rip; the boxes shown.
    std::vector<testing::RecordedBox> rip() {
        host.boxes.clear();
        dlg->StartRip();
        return host.boxes;
    }
    // Nothing was started: no file, idle again, no row done.
    void expectNothingStarted() const {
        EXPECT_TRUE(outputEmpty());
        EXPECT_FALSE(dlg->ripping());
        EXPECT_TRUE(dlg->idle());
        EXPECT_EQ(dlg->rowsCompleted(), 0);
        EXPECT_EQ(dlg->controls.ripButtonText, host.text("STR_MAIN_BUTTON_Rip"));
    }
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

#define EXPECT_ONE_BOX(boxes, kind_, prefix)                                 \
    do {                                                                     \
        ASSERT_EQ((boxes).size(), 1u);                                       \
        EXPECT_EQ((boxes)[0].kind, BoxKind::kind_);                          \
        EXPECT_TRUE(startsWith((boxes)[0].text, prefix)) << (boxes)[0].text; \
    } while (0)

// Each combination that cannot work is refused with its own message.
TEST(RipRefusal, CombinationsThatCannotWork) {
    struct Case {
        const char* what;
        int format;  // Format list entry
        void (*set)(SettingsStore&);
        const char* message;
    };
    const Case cases[] = {
        {"AC3 export with MPEG output", 0, [](SettingsStore& s) { s.input.downSampling = 2; },
         "Internal encoder cannot multiplex AC3. "},
        {"AC3 export with AVI sound", 2,
         [](SettingsStore& s) {
             s.input.downSampling = 2;
             s.output.aviAudio = 1;
         },
         "Disable audio (output setting) if you want to export AC3 sound and do avi video."},
        {"48 kHz with MPEG output", 0, [](SettingsStore& s) { s.input.downSampling = 4; },
         "Cannot encode MPEG1/2 or Premiere file with 48KHz sound. (Use 44.1KHz conversion)."},
        {"size split with two-pass AVI", 2,
         [](SettingsStore& s) {
             s.output.twoPass = true;
             s.output.splitMode = 5;
         },
         "Size splitting doesn't work in '2 pass AVI' mode. "},
        {"74 Min VCD split with two-pass AVI", 2,
         [](SettingsStore& s) {
             s.output.twoPass = true;
             s.output.splitMode = 1;
         },
         "Size splitting doesn't work in '2 pass AVI' mode. "},
        {"YU12 export for AVI", 2, [](SettingsStore& s) { s.output.exportYuv = 2; },
         "Only RGB or YUY2 for AVI coding supported."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w;
        w.openSample();
        w.dlg->chooseFormat(c.format);
        c.set(w.settings);
        w.dlg->chooseSplit(w.settings.output.splitMode);
        w.changed();
        auto boxes = w.rip();
        EXPECT_ONE_BOX(boxes, Error, c.message);
        w.expectNothingStarted();
    }
}

TEST(RipRefusal, MissingOutputFolderNamesItAndStartsNothing) {
    Window w;
    w.openSample();
    const std::string missing = (w.dir / "gone").string();
    w.dlg->setOutputFolderText(missing);
    auto boxes = w.rip();
    EXPECT_ONE_BOX(boxes, Error, missing + "/" + w.host.text("STR_ERROR_106"));
    EXPECT_FALSE(fs::exists(missing));
    w.expectNothingStarted();
}

TEST(RipRefusal, NoDestinationNameAskedAndNoStops) {
    Window w;
    w.openSample();
    w.dlg->setOutputName(0, "none");
    w.host.answers = {BoxAnswer::No};
    auto boxes = w.rip();
    EXPECT_ONE_BOX(boxes, Question,
                   "You don't have selected the destination file name. Continue ?");
    w.expectNothingStarted();
}

TEST(RipRefusal, NoDecoderOpen) {
    Window w;
    auto boxes = (w.dlg->RipRun(), w.host.boxes);
    EXPECT_ONE_BOX(boxes, Error, "Decoder not inited. ");
    EXPECT_TRUE(w.outputEmpty());
    EXPECT_TRUE(w.dlg->idle());
}

// A row that cannot be opened when its turn comes (an MPEG file that is not
// one) writes nothing and is not counted as ripped.
TEST(RipRefusal, UnreadableVobRowWritesNothing) {
    Window w;
    const fs::path bogus = w.dir.write("junk.vob", std::string(64 * 2048, '\0'));
    w.dlg->openVobFiles({bogus.string()});
    ASSERT_EQ(w.dlg->rows().size(), 1u);
    auto boxes = w.rip();
    ASSERT_EQ(boxes.size(), 1u) << "the user hears why";
    EXPECT_EQ(boxes[0].kind, BoxKind::Error);
    w.expectNothingStarted();
    EXPECT_EQ(w.dlg->rowsAttempted(), 1);
}

// ---------------------------------------------------------------- opening sources

TEST(OpenSource, FolderWithoutIfoDoesNothing) {
    Window w;
    w.dlg->openDvdFolder(w.out().string());
    EXPECT_TRUE(w.host.boxes.empty());
    EXPECT_TRUE(w.dlg->rows().empty());
    EXPECT_FALSE(w.dlg->controls.ripEnabled);
}

// Open DVD takes the title sets only: the disc's VIDEO_TS.IFO holds no
// title and is not tried (no message on every disc). Opened by hand it gets
// the parser's message and no row.
TEST(OpenSource, IfoWithoutNumberedVobIsSkippedWithItsMessage) {
    Window w;
    w.dlg->openDvdFolder(testing::sampleDisc());
    EXPECT_TRUE(w.host.boxes.empty());
    ASSERT_EQ(w.dlg->rows().size(), 1u);
    EXPECT_NE(w.dlg->rows()[0].sourcePath.find("VTS_01_0.IFO"), std::string::npos);
    EXPECT_EQ(w.dlg->rows()[0].outputName, "Title_0");
    EXPECT_EQ(w.dlg->rows()[0].chapters, "1");
    EXPECT_EQ(w.dlg->rows()[0].time, "00:00:06");
    w.dlg->openIfoFiles({(fs::path(testing::sampleDisc()) / "VIDEO_TS.IFO").string()});
    EXPECT_FALSE(w.host.boxes.empty());
    EXPECT_FALSE(w.host.sawText("No corresponding vob file found."));
    EXPECT_EQ(w.dlg->rows().size(), 1u);

    // The title set's IFO alone, without its VOB beside it.
    Window lone;
    fs::copy_file(fs::path(testing::sampleDisc()) / "VTS_01_0.IFO", lone.dir / "VTS_01_0.IFO");
    lone.dlg->openIfoFiles({(lone.dir / "VTS_01_0.IFO").string()});
    ASSERT_EQ(lone.host.boxes.size(), 1u);
    EXPECT_EQ(lone.host.boxes[0].text, "No corresponding vob file found.");
    EXPECT_TRUE(lone.dlg->rows().empty());
}

TEST(OpenSource, UnparsableIfoIsSkippedWithTheParsersMessage) {
    Window w;
    const fs::path ifo = w.dir.write("disc/VTS_01_0.IFO", std::string(4096, 'x'));
    fs::copy_file(fs::path(testing::sampleDisc()) / "VTS_01_1.VOB", w.dir / "disc/VTS_01_1.VOB");
    w.dlg->openDvdFolder((w.dir / "disc").string());
    ASSERT_FALSE(w.host.boxes.empty());
    for (const auto& box : w.host.boxes) EXPECT_EQ(box.kind, BoxKind::Error) << box.text;
    EXPECT_TRUE(w.dlg->rows().empty());
    EXPECT_FALSE(w.dlg->controls.ripEnabled);
}

// A valid IFO whose VOB holds no MPEG data: the decoder cannot open the
// title, so no row is added.
TEST(OpenSource, TitleTheDecoderCannotOpenIsSkipped) {
    Window w;
    fs::create_directories(w.dir / "disc");
    fs::copy_file(fs::path(testing::sampleDisc()) / "VTS_01_0.IFO", w.dir / "disc/VTS_01_0.IFO");
    w.dir.write("disc/VTS_01_1.VOB", std::string(size_t(776) * 2048, '\0'));
    w.dlg->openDvdFolder((w.dir / "disc").string());
    EXPECT_TRUE(w.dlg->rows().empty());
    EXPECT_FALSE(w.dlg->controls.ripEnabled);
}

TEST(OpenSource, ListWithoutSelectionKeepsTheStoredValue) {
    Window w;
    w.openSample();
    w.dlg->chooseAudio(0);
    w.dlg->chooseSubtitle(1);
    w.dlg->chooseAudio(-1);
    w.dlg->chooseSubtitle(-1);
    w.dlg->chooseIndex(-1);
    EXPECT_EQ(w.settings.input.audioTrack, 0);
    EXPECT_EQ(w.settings.input.subtitle, 1);
    EXPECT_EQ(w.settings.input.titleIndex, 0);
    EXPECT_EQ(w.dlg->controls.subtitleList.selected, 1);
}

}  // namespace
}  // namespace zembra

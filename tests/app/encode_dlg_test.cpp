// The main window's controller as a window drives it: the busy gate around
// an open and a rip, the cancel request (also during a VOB scan and from
// another thread), the per-row commands, a language switch and the preview.
// The real engines run behind it; the user is played by the recording host.

#include "app/encode_dlg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "app/engines/engine_set.h"
#include "geometry/output_geometry.h"
#include "platform/string_table.h"
#include "rip_support.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::RecordingHost;
using testing::TempDir;

// What a window would see: the controller's state at every refresh, and
// the preview pictures.
class RecordingView : public MainView {
public:
    std::optional<std::string> chooseFolder(const std::string&) override { return std::nullopt; }
    std::vector<std::string> chooseFiles(const std::string&, const std::string&,
                                         const std::string&) override {
        return {};
    }
    void refresh() override {
        if (dlg) states.push_back(dlg->viewState());
    }
    void drawPreview(const PreviewFrame& frame) override {
        std::lock_guard lock(mutex);
        ++draws;
        if (dlg && dlg->ripping()) ++ripDraws;
        last = frame;
    }
    void showLogo() override { ++logos; }

    const EncodeDlg* dlg = nullptr;
    std::vector<ViewState> states;
    std::mutex mutex;
    int draws = 0;
    int ripDraws = 0;  // those handed over by a running rip
    int logos = 0;
    PreviewFrame last;
};

// The main window over the real engines, with a view and an output folder.
struct Window {
    TempDir dir;
    RecordingHost host;
    SettingsStore settings{dir / "options.ini", dir.dir()};
    EngineSet engines{host, settings};
    RecordingView view;
    std::unique_ptr<EncodeDlg> dlg;

    // `wrap` may put test writers over the real ones.
    explicit Window(RipEngines extra = {}, std::function<void(RipEngines&)> wrap = {}) {
        settings.LoadSettings();
        RipEngines e = engines.ripEngines();
        if (extra.setPriority) e.setPriority = extra.setPriority;
        if (wrap) wrap(e);
        dlg = std::make_unique<EncodeDlg>(host, settings, engines.catalogue(), e, &view);
        view.dlg = dlg.get();
        fs::create_directories(out());
        dlg->setOutputFolderText(out().string());
    }
    fs::path out() const { return dir / "out"; }
    void openSample() {
        dlg->openDvdFolder(testing::sampleDisc());
        ASSERT_EQ(dlg->rows().size(), 1u);
    }
    // Small uncompressed AVI without sound: the quickest rip there is.
    void smallAvi() {
        dlg->chooseFormat(2);
        dlg->chooseSplit(0);
        settings.output.width = 64;
        settings.output.height = 48;
        settings.output.aviAudio = 0;
        settings.output.exportYuv = 1;
        dlg->settingsChanged();
        ASSERT_EQ(engines.applyAviChoices({"DIB ", {}, ""}), "");
    }
};

std::string vobOfSample() { return testing::sampleDisc() + "/VTS_01_1.VOB"; }

// ---------------------------------------------------------------- the busy gate

// While Open DVD reads the disc the window is disabled, the Rip button with
// it, and a start attempt is ignored; the controls come back at the end.
TEST(EncodeDlgBusy, RipIsOffWhileADiscOpens) {
    Window w;
    w.openSample();
    bool startRefused = false;
    w.host.onPump = [&] { startRefused = !w.dlg->prepareRip(); };
    w.view.states.clear();
    w.dlg->openDvdFolder(testing::sampleDisc());
    ASSERT_EQ(w.dlg->rows().size(), 2u);
    EXPECT_TRUE(startRefused);
    EXPECT_FALSE(w.dlg->ripping());
    ASSERT_GE(w.view.states.size(), 2u);
    const ViewState& during = w.view.states.front();
    EXPECT_TRUE(during.busy);
    EXPECT_FALSE(during.controls.controlsEnabled);
    EXPECT_FALSE(during.controls.ripEnabled) << "Rip enabled in a disabled window";
    for (const ViewState& s : w.view.states)
        if (s.busy) {
            EXPECT_FALSE(s.controls.ripEnabled);
        }
    EXPECT_FALSE(w.dlg->busy());
    EXPECT_TRUE(w.dlg->controls.ripEnabled);
    EXPECT_TRUE(w.dlg->controls.controlsEnabled);
    EXPECT_EQ(w.dlg->controls.progress, 100);
}

// After a confirmed stop the run still unwinds: everything stays disabled
// and every command but the cancel request is ignored until finishRip.
TEST(EncodeDlgBusy, ControlsStayOffUntilFinishRip) {
    Window w;
    w.openSample();
    w.smallAvi();
    ASSERT_TRUE(w.dlg->prepareRip());
    EXPECT_TRUE(w.dlg->busy());
    EXPECT_TRUE(w.dlg->ripping());
    EXPECT_FALSE(w.dlg->prepareRip()) << "a second start while ripping";
    w.host.answers = {BoxAnswer::Yes};
    int pumps = 0;
    w.host.onPump = [&] {
        if (++pumps == 3) {
            EXPECT_TRUE(w.dlg->requestCancel());
        }
    };
    w.dlg->runRip();
    w.host.onPump = nullptr;
    ASSERT_GE(pumps, 3);
    for (size_t i = 0; i < w.view.states.size(); ++i)
        if (w.view.states[i].busy) {
            EXPECT_FALSE(w.view.states[i].controls.controlsEnabled) << i;
        }

    // Unwound, not finished: still busy, nothing enabled, commands ignored.
    EXPECT_TRUE(w.dlg->busy());
    EXPECT_FALSE(w.dlg->ripping());
    EXPECT_FALSE(w.dlg->controls.controlsEnabled);
    EXPECT_FALSE(w.dlg->controls.ripEnabled);
    const int format = w.settings.output.formatIndex;
    w.dlg->chooseFormat(14);
    w.dlg->setRowChecked(0, false);
    EXPECT_EQ(w.settings.output.formatIndex, format);
    EXPECT_TRUE(w.dlg->rows()[0].checked);
    EXPECT_FALSE(w.dlg->requestCancel()) << "nothing left to stop";
    EXPECT_EQ(w.dlg->closeWindow(), CloseResult::Ripping);

    EXPECT_FALSE(w.dlg->finishRip()) << "no shutdown after a stop";
    EXPECT_FALSE(w.dlg->busy());
    EXPECT_TRUE(w.dlg->controls.controlsEnabled);
    EXPECT_TRUE(w.dlg->controls.ripEnabled);
    EXPECT_EQ(w.dlg->controls.ripButtonText, w.host.text("STR_MAIN_BUTTON_Rip"));
    w.dlg->setRowChecked(0, false);
    EXPECT_FALSE(w.dlg->rows()[0].checked);
}

// ---------------------------------------------------------------- the cancel request

// "Stop process ?" answered No goes on with the row's own settings: the
// Format entry shown (another row's) is not applied to the running row.
TEST(EncodeDlgCancel, AnswerNoLeavesTheRunningRowsFormat) {
    Window w;
    w.dlg->openDvdFolder(testing::sampleDisc());
    w.dlg->openDvdFolder(testing::sampleDisc());
    ASSERT_EQ(w.dlg->rows().size(), 2u);
    w.dlg->selectRow(0);
    w.dlg->chooseFormat(13);  // SVCD PAL, 480 x 576 MPEG-2
    w.dlg->selectRow(1);
    w.dlg->chooseFormat(14);  // VCD PAL, 352 x 288 MPEG-1
    w.dlg->setRowChecked(1, false);
    const OutputSettings before = w.dlg->item(0)->output;
    w.host.answers = {BoxAnswer::No, BoxAnswer::Yes};
    int pumps = 0;
    w.host.onPump = [&] {
        ++pumps;
        if (pumps == 2 || pumps == 4) w.dlg->StartRip();  // the button, pressed twice
    };
    w.dlg->StartRip();
    w.host.onPump = nullptr;
    ASSERT_EQ(w.host.boxes.size(), 2u);
    const OutputSettings& after = w.dlg->item(0)->output;
    EXPECT_EQ(after.formatIndex, 13);
    EXPECT_EQ(after.mpegStream, before.mpegStream);
    EXPECT_EQ(after.width, 480);
    EXPECT_EQ(after.height, 576);
    EXPECT_EQ(after.videoBitRate, before.videoBitRate);
    EXPECT_EQ(w.dlg->item(1)->output.formatIndex, 14);
}

// A VOB row added while a disc is open is ripped from its own file, not
// from the disc's IFO that the settings copied into its row still name.
TEST(EncodeDlgRows, VobRowAfterADiscRipsItsOwnFile) {
    Window w;
    w.openSample();
    w.dlg->openVobFiles({vobOfSample()});
    ASSERT_EQ(w.dlg->rows().size(), 2u);
    w.smallAvi();
    w.dlg->StartRip();
    EXPECT_EQ(w.dlg->rowsCompleted(), 2) << (w.host.boxes.empty() ? "" : w.host.boxes[0].text);
    EXPECT_TRUE(w.host.boxes.empty());
    EXPECT_EQ(w.dlg->item(1)->input.vobFiles, std::vector<std::string>{vobOfSample()});
}

// A press while a VOB row is scanned is the cancel request like any other:
// the question, and Yes ends the scan with nothing written.
TEST(EncodeDlgCancel, PressDuringTheScanAsksAndStopsIt) {
    Window w;
    w.dlg->openVobFiles({vobOfSample()});
    ASSERT_EQ(w.dlg->rows().size(), 1u);
    w.smallAvi();
    w.host.answers = {BoxAnswer::Yes};
    int pumpsAfterPress = -1;
    w.host.onPump = [&] {
        if (pumpsAfterPress >= 0) {
            ++pumpsAfterPress;
            return;
        }
        if (w.dlg->ripping() && w.dlg->idle()) {  // scanning: no run yet
            w.dlg->StartRip();
            pumpsAfterPress = 0;
        }
    };
    w.dlg->StartRip();
    ASSERT_EQ(w.host.boxes.size(), 1u);
    EXPECT_EQ(w.host.boxes[0].text, "Stop process ?");
    EXPECT_EQ(pumpsAfterPress, 0) << "the scan went on";
    EXPECT_TRUE(fs::is_empty(w.out()));
    EXPECT_EQ(w.dlg->rowsCompleted(), 0);
    EXPECT_FALSE(w.dlg->busy());
    EXPECT_EQ(w.dlg->controls.ripButtonText, w.host.text("STR_MAIN_BUTTON_Rip"));

    // The stop belongs to that run: the next one scans and rips.
    w.host.onPump = nullptr;
    w.host.boxes.clear();
    w.dlg->StartRip();
    EXPECT_TRUE(w.host.boxes.empty());
    EXPECT_EQ(w.dlg->rowsCompleted(), 1);
}

// A host that several threads may call: the rip's thread writes status and
// pumps, the test's thread asks the question.
class ThreadedHost : public RecordingHost {
public:
    BoxAnswer messageBox(BoxKind kind, const std::string& text) override {
        std::lock_guard lock(mutex_);
        return RecordingHost::messageBox(kind, text);
    }
    void setStatus(const std::string& text) override {
        std::lock_guard lock(mutex_);
        RecordingHost::setStatus(text);
    }
    void setProgress(int position, int range) override {
        std::lock_guard lock(mutex_);
        RecordingHost::setProgress(position, range);
    }
    void pumpMessages() override {}  // nothing to pump on a worker

private:
    std::mutex mutex_;
};

// The window's way: runRip on a worker, the cancel request from the
// window's thread. The worker stops at the next picture and leaves a file
// that reads to its end.
TEST(EncodeDlgCancel, RunOnAWorkerStopsPromptly) {
    ZEMBRA_REQUIRE_ORACLES();
    const std::string disc = testing::longDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    TempDir dir;
    ThreadedHost host;
    SettingsStore settings{dir / "options.ini", dir.dir()};
    settings.LoadSettings();
    EngineSet engines{host, settings};
    EncodeDlg dlg(host, settings, engines.catalogue(), engines.ripEngines());
    fs::create_directories(dir / "out");
    dlg.setOutputFolderText((dir / "out").string());
    dlg.openDvdFolder(disc);
    ASSERT_EQ(dlg.rows().size(), 1u);
    dlg.chooseFormat(2);
    dlg.chooseSplit(0);
    settings.output.width = 64;
    settings.output.height = 48;
    settings.output.aviAudio = 0;
    settings.output.exportYuv = 1;
    dlg.settingsChanged();
    ASSERT_EQ(engines.applyAviChoices({"DIB ", {}, ""}), "");

    ASSERT_TRUE(dlg.prepareRip());
    std::atomic<bool> done{false};
    std::thread worker([&] {
        dlg.runRip();
        done = true;
    });
    const fs::path avi = dir / "out" / "Title_0.avi";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (!done && std::chrono::steady_clock::now() < until &&
           !(fs::exists(avi, ec) && fs::file_size(avi, ec) > 100u * 64 * 48 * 3))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(done) << "the rip ended before it could be stopped";
    host.answers = {BoxAnswer::Yes};
    const auto pressed = std::chrono::steady_clock::now();
    EXPECT_TRUE(dlg.requestCancel());
    worker.join();
    const auto stopped = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - pressed);
    EXPECT_LT(stopped.count(), 100) << "from Yes to the end of the run";
    EXPECT_TRUE(dlg.busy());
    EXPECT_FALSE(dlg.finishRip());
    EXPECT_FALSE(dlg.busy());

    // About the hundred frames waited for, not the title's 720.
    const int frames = testing::decodedFrames(avi.string());
    EXPECT_GE(frames, 90);
    EXPECT_LT(frames, 30 * 24 - 24);
    EXPECT_EQ(testing::decodeErrors(avi.string()), "");
}

// ---------------------------------------------------------------- per-row commands

// A check box clicked on a row that is not selected toggles that row only.
TEST(EncodeDlgRows, CheckBoxOfAnotherRow) {
    Window w;
    w.dlg->openVobFiles({"/a/one.vob", "/a/two.vob", "/a/three.vob"});
    w.dlg->selectRow(0);
    w.dlg->setRowChecked(2, false);
    EXPECT_TRUE(w.dlg->rows()[0].checked);
    EXPECT_TRUE(w.dlg->rows()[1].checked);
    EXPECT_FALSE(w.dlg->rows()[2].checked);
    EXPECT_TRUE(w.dlg->rows()[0].selected);
    EXPECT_FALSE(w.dlg->rows()[2].selected);
    w.dlg->setRowChecked(2, true);
    w.dlg->setRowChecked(7, false);  // no such row
    for (const FileRow& r : w.dlg->rows()) EXPECT_TRUE(r.checked);
}

// Refilling the lists from a row (selecting it, a language switch, the
// Properties dialog's OK) shows its values; it never applies a preset.
TEST(EncodeDlgRows, RefillsKeepTheRowsOwnValues) {
    Window w;
    w.dlg->openVobFiles({"/a/one.vob", "/a/two.vob"});
    w.dlg->selectRow(0);
    w.dlg->chooseFormat(14);
    w.settings.output.width = 176;
    w.settings.output.height = 144;
    w.dlg->settingsChanged();
    w.dlg->selectRow(1);
    w.dlg->chooseFormat(13);
    w.dlg->selectRow(0);
    EXPECT_EQ(w.dlg->controls.formatList.selected, 14);
    EXPECT_EQ(w.settings.output.width, 176);
    w.dlg->retranslate();
    EXPECT_EQ(w.settings.output.width, 176);
    EXPECT_EQ(w.dlg->controls.formatList.selected, 14);

    // Properties OK on the current row: the global records follow.
    InputSettings in = w.dlg->item(0)->input;
    OutputSettings out = w.dlg->item(0)->output;
    out.width = 320;
    in.angle = 3;
    w.dlg->setItemSettings(0, in, out);
    EXPECT_EQ(w.settings.output.width, 320);
    EXPECT_EQ(w.dlg->controls.angleList.selected, 3);
    EXPECT_EQ(w.dlg->controls.formatList.selected, 14);
    // On another row: only that row's item.
    out.width = 240;
    w.dlg->setItemSettings(1, in, out);
    EXPECT_EQ(w.dlg->item(1)->output.width, 240);
    EXPECT_EQ(w.settings.output.width, 320);
}

// The start applies the chosen format again, but the bit rates and size
// set in the current row's Properties stay that row's; a format chosen after
// them gives its preset again.
TEST(EncodeDlgRows, StartKeepsTheCurrentRowsPropertiesRatesAndSize) {
    Window w;
    w.openSample();
    w.dlg->chooseFormat(13);  // SVCD PAL: 480 x 576, 2350 kbit/s
    InputSettings in = w.dlg->item(0)->input;
    OutputSettings out = w.dlg->item(0)->output;
    out.videoBitRate = 1800;
    out.audioBitRate = 7;
    out.width = 352;
    w.dlg->setItemSettings(0, in, out);
    ASSERT_TRUE(w.dlg->prepareRip());
    const OutputSettings* outputs[] = {&w.dlg->item(0)->output, &w.settings.output};
    for (const OutputSettings* o : outputs) {
        EXPECT_EQ(o->videoBitRate, 1800);
        EXPECT_EQ(o->audioBitRate, 7);
        EXPECT_EQ(o->width, 352);
        EXPECT_EQ(o->height, 576);
        EXPECT_EQ(o->mpegStream, 1);
    }
    w.dlg->finishRip();

    w.dlg->chooseFormat(12);  // DVD PAL High Quality: 720 x 576, 9400 kbit/s
    ASSERT_TRUE(w.dlg->prepareRip());
    EXPECT_EQ(w.dlg->item(0)->output.videoBitRate, 9400);
    EXPECT_EQ(w.dlg->item(0)->output.width, 720);
    w.dlg->finishRip();

    // Only what the dialog changed is the row's: on a new window the row
    // holds the stored 150 kbit/s until the format's preset is applied, and
    // an OK that changed the height alone leaves the bit rate to the format.
    Window fresh;
    fresh.openSample();
    ASSERT_EQ(fresh.dlg->controls.formatList.selected, 0);  // Custom MPEG1: 1150 kbit/s
    out = fresh.dlg->item(0)->output;
    ASSERT_EQ(out.videoBitRate, 150);
    out.height = 240;
    fresh.dlg->setItemSettings(0, fresh.dlg->item(0)->input, out);
    ASSERT_TRUE(fresh.dlg->prepareRip());
    EXPECT_EQ(fresh.dlg->item(0)->output.videoBitRate, 1150);
    EXPECT_EQ(fresh.dlg->item(0)->output.height, 240);
    fresh.dlg->finishRip();
}

// A language switch re-labels the lists and the button; every selection stays.
TEST(EncodeDlgRows, LanguageSwitchKeepsSelections) {
    StringTable strings;
    TempDir dir;
    RecordingHost host(&strings);
    SettingsStore settings{dir / "options.ini", dir.dir()};
    settings.LoadSettings();
    EngineSet engines{host, settings};
    EncodeDlg dlg(host, settings, engines.catalogue(), engines.ripEngines());
    dlg.openDvdFolder(testing::sampleDisc());
    ASSERT_EQ(dlg.rows().size(), 1u);
    dlg.chooseFormat(13);
    dlg.chooseZoom(3);
    dlg.chooseSplit(2);
    dlg.chooseAngle(2);
    const std::string english = dlg.controls.formatList.entries[13];
    const std::string none = dlg.controls.subtitleList.entries[0];

    ASSERT_TRUE(strings.load(fs::path(ZEMBRA_SOURCE_DIR) / "langs" / "Deutsch.ini"));
    dlg.retranslate();
    EXPECT_NE(dlg.controls.formatList.entries[13], english);
    EXPECT_EQ(dlg.controls.formatList.entries[13], strings.text("STR_MAIN_COMBO_Format_13"));
    EXPECT_EQ(dlg.controls.subtitleList.entries[0], strings.text("STR_MAIN_COMBO_Subtitle_None"));
    EXPECT_NE(dlg.controls.subtitleList.entries[0], none);
    EXPECT_EQ(dlg.controls.ripButtonText, strings.text("STR_MAIN_BUTTON_Rip"));
    EXPECT_EQ(dlg.controls.formatList.selected, 13);
    EXPECT_EQ(dlg.controls.zoomList.selected, 3);
    EXPECT_EQ(dlg.controls.splitList.selected, 2);
    EXPECT_EQ(dlg.controls.angleList.selected, 2);
    EXPECT_EQ(dlg.controls.indexList.selected, 0);
    EXPECT_EQ(settings.output.formatIndex, 13);
}

// ---------------------------------------------------------------- closing

TEST(EncodeDlgClose, TellsRippingFromAFailedSave) {
    Window w;
    EXPECT_EQ(w.dlg->closeWindow(), CloseResult::Closed);
    EXPECT_TRUE(fs::exists(w.dir / "options.ini"));

    TempDir dir;
    RecordingHost host;
    SettingsStore unwritable{dir / "no" / "such" / "options.ini", dir.dir()};
    EngineSet engines{host, unwritable};
    EncodeDlg dlg(host, unwritable, engines.catalogue(), engines.ripEngines());
    EXPECT_EQ(dlg.closeWindow(), CloseResult::SaveFailed);
    EXPECT_TRUE(host.boxes.empty());
}

// ---------------------------------------------------------------- preview

// A row's picture is drawn when it is opened, through the output geometry
// at the output size; a crop changes it, and the source view shows the
// whole source frame with the crop rectangle.
TEST(EncodeDlgPreview, DrawnOnOpenAndChangedByACrop) {
    Window w;
    w.openSample();
    ASSERT_GT(w.view.draws, 0);
    const PreviewFrame opened = w.view.last;
    EXPECT_FALSE(opened.sourceView);
    EXPECT_EQ(opened.image.width, w.settings.output.width);
    EXPECT_EQ(opened.image.height, w.settings.output.height);
    ASSERT_EQ(opened.image.y.size(), size_t(opened.image.width) * size_t(opened.image.height));
    const auto [lo, hi] = std::minmax_element(opened.image.y.begin(), opened.image.y.end());
    EXPECT_GT(*hi - *lo, 32) << "a flat picture";

    w.dlg->chooseZoom(4);  // the crop takes with the Custom zoom
    EXPECT_TRUE(w.view.last.sourceView) << "the Custom zoom starts in the source view";
    w.dlg->setRenderSource(false);
    EXPECT_FALSE(w.view.last.sourceView);
    const std::vector<uint8_t> uncropped = w.view.last.image.y;
    const int draws = w.view.draws;
    w.settings.output.cropLeft = 0.25;
    w.settings.output.cropRight = 0.75;
    w.dlg->settingsChanged();
    EXPECT_EQ(w.view.draws, draws + 1);
    EXPECT_NE(w.view.last.image.y, uncropped);

    w.dlg->setRenderSource(true);
    const PreviewFrame& source = w.view.last;
    EXPECT_TRUE(source.sourceView);
    EXPECT_EQ(source.image.width, w.settings.input.sourceWidth);
    EXPECT_EQ(source.image.height, w.settings.input.sourceHeight);
    EXPECT_EQ(source.cropX1, w.settings.input.sourceWidth / 4);
    EXPECT_EQ(source.cropX2, w.settings.input.sourceWidth * 3 / 4);
    EXPECT_EQ(source.label.substr(0, 1), "(");
    w.dlg->toggleShowResolution();
    EXPECT_EQ(w.view.last.label, "");
    // Another zoom leaves the source view.
    w.dlg->chooseZoom(3);
    EXPECT_FALSE(w.view.last.sourceView);

    // Emptied, the list shows the logo.
    w.dlg->removeAll();
    EXPECT_EQ(w.view.logos, 1);
}

// Another entry of the Index list shows a frame of that title.
TEST(EncodeDlgPreview, FollowsTheIndexList) {
    const std::string disc = testing::makeDisc("preview-two", "--pal --ac3 --two-pgc --seconds 2");
    ASSERT_FALSE(disc.empty());
    Window w;
    w.dlg->openDvdFolder(disc + "/VIDEO_TS");
    ASSERT_EQ(w.dlg->rows().size(), 1u);
    ASSERT_EQ(w.dlg->controls.indexList.entries.size(), 2u);
    // The row's time is the last title's, which is not the one opened.
    EXPECT_EQ(w.dlg->rows()[0].time, "00:00:02");
    const std::vector<uint8_t> first = w.view.last.image.y;
    ASSERT_FALSE(first.empty());
    const int draws = w.view.draws;
    w.dlg->chooseIndex(1);
    EXPECT_GT(w.view.draws, draws);
    EXPECT_NE(w.view.last.image.y, first) << "still the first title's picture";
    w.dlg->chooseIndex(0);
    EXPECT_EQ(w.view.last.image.y, first);
}

// During a rip every Render-th frame is handed over, none with Render 0.
TEST(EncodeDlgPreview, EveryRenderthFrameOfARip) {
    for (int render : {25, 0}) {
        SCOPED_TRACE(render);
        Window w;
        w.openSample();
        w.smallAvi();
        w.settings.output.renderInterval = render;
        w.dlg->settingsChanged();
        w.dlg->StartRip();
        ASSERT_EQ(w.dlg->rowsCompleted(), 1) << w.dlg->controls.monitorLine;
        const int ripDraws = w.view.ripDraws;
        const int frames = w.settings.output.maxFrames;
        if (render) {
            EXPECT_GE(ripDraws, (frames + render - 1) / render);
            EXPECT_LE(ripDraws, frames / render + 1);
        } else {
            EXPECT_EQ(ripDraws, 0);
        }
        if (render) {
            EXPECT_EQ(w.view.last.image.width, 64);
        }
    }
}

// ---------------------------------------------------------------- rows that fail

// A real writer behind a test's own calls.
class ForwardingWriter : public RipWriter {
public:
    explicit ForwardingWriter(RipWriter& inner) : inner_(inner) {}
    bool open(const WriterOpen& p) override { return inner_.open(p); }
    bool writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) override {
        return inner_.writeFrame(planes, pcm, pcmValues);
    }
    double sizeMB() override { return inner_.sizeMB(); }
    bool nextPiece() override { return inner_.nextPiece(); }
    bool close() override { return inner_.close(); }
    void endRun() override { inner_.endRun(); }
    void setCancel(const CancelToken* flag) override { inner_.setCancel(flag); }
    void extendFrameLimit(int frames) override { inner_.extendFrameLimit(frames); }
    bool frameLimitReached() const override { return inner_.frameLimitReached(); }

private:
    RipWriter& inner_;
};

// The real writer, running out of memory at one frame.
class OutOfMemoryWriter : public ForwardingWriter {
public:
    OutOfMemoryWriter(RipWriter& inner, int failingFrame)
        : ForwardingWriter(inner), failAt_(failingFrame) {}
    bool writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) override {
        if (++frames_ == failAt_) throw std::bad_alloc();
        return ForwardingWriter::writeFrame(planes, pcm, pcmValues);
    }

private:
    int failAt_;
    int frames_ = 0;
};

// Memory running out in the middle of a title ends that row with a message;
// the frames before stay a readable file and the run goes on unharmed. Out
// of memory at the first frame leaves no empty file behind.
TEST(EncodeDlgRowFailure, OutOfMemoryEndsTheRowNotTheRun) {
    for (int failingFrame : {20, 1}) {
        SCOPED_TRACE(failingFrame);
        std::unique_ptr<OutOfMemoryWriter> failing;
        Window w({}, [&](RipEngines& e) {
            failing = std::make_unique<OutOfMemoryWriter>(*e.avi, failingFrame);
            e.avi = failing.get();
        });
        w.openSample();
        w.smallAvi();
        w.dlg->StartRip();
        EXPECT_EQ(w.dlg->rowsCompleted(), 0);
        EXPECT_FALSE(w.dlg->busy());
        ASSERT_EQ(w.host.boxes.size(), 1u);
        EXPECT_EQ(w.host.boxes[0].text, w.host.text("STR_ERROR_55"));
        const fs::path avi = w.out() / (w.dlg->rows()[0].outputName + ".avi");
        if (failingFrame == 1) {
            EXPECT_TRUE(fs::is_empty(w.out()));
        } else if (testing::haveOracles()) {
            EXPECT_EQ(testing::decodeErrors(avi.string()), "");
            EXPECT_EQ(testing::decodedFrames(avi.string()), failingFrame - 1);
        }
    }
}

// The same in the MPEG writer: its encoders and multiplexer own what they
// allocated, so the throw unwinds through them, and the rip loop's one catch
// finishes the piece: the pictures coded before stay a whole program stream.
TEST(EncodeDlgRowFailure, OutOfMemoryKeepsTheMpegPieceWhole) {
    std::unique_ptr<OutOfMemoryWriter> failing;
    Window w({}, [&](RipEngines& e) {
        failing = std::make_unique<OutOfMemoryWriter>(*e.mpeg, 20);
        e.mpeg = failing.get();
    });
    w.openSample();
    w.dlg->chooseFormat(14);  // VCD PAL
    w.dlg->chooseSplit(0);
    w.dlg->settingsChanged();
    w.dlg->StartRip();
    EXPECT_EQ(w.dlg->rowsCompleted(), 0);
    ASSERT_EQ(w.host.boxes.size(), 1u);
    EXPECT_EQ(w.host.boxes[0].text, w.host.text("STR_ERROR_55"));
    const fs::path mpg = w.out() / (w.dlg->rows()[0].outputName + ".mpg");
    ASSERT_TRUE(fs::exists(mpg));
    EXPECT_EQ(fs::file_size(mpg) % 2324, 0u) << "whole VCD sectors";
    if (testing::haveOracles()) {
        EXPECT_EQ(testing::decodeErrors(mpg.string()), "");
        EXPECT_EQ(testing::decodedFrames(mpg.string()), 19);
    }
}

// An output size no geometry can make ends the row before anything is
// written, where grey pictures used to be written as a rip.
TEST(EncodeDlgRowFailure, SizeTheGeometryCannotMakeWritesNothing) {
    Window w;
    w.openSample();
    w.smallAvi();
    w.settings.output.width = kMaxOutputSide + 16;
    w.dlg->settingsChanged();
    w.dlg->StartRip();
    EXPECT_EQ(w.dlg->rowsCompleted(), 0);
    ASSERT_EQ(w.host.boxes.size(), 1u);
    EXPECT_EQ(w.host.boxes[0].text, w.host.text("STR_ERROR_9"));
    EXPECT_TRUE(fs::is_empty(w.out()));
}

// The output folder removed while the file is written: Linux takes the
// writes to the unlinked file to the end, but nothing is kept, and the row
// must say so.
TEST(EncodeDlgRowFailure, OutputFolderRemovedDuringTheRip) {
    Window w;
    w.openSample();
    w.smallAvi();
    const std::string file = w.out().string() + "/" + w.dlg->rows()[0].outputName + ".avi";
    bool removed = false;
    w.host.onPump = [&] {
        if (!removed && fs::exists(file)) removed = fs::remove_all(w.out()) > 0;
    };
    w.dlg->StartRip();
    w.host.onPump = nullptr;
    ASSERT_TRUE(removed);
    EXPECT_EQ(w.dlg->rowsCompleted(), 0);
    ASSERT_EQ(w.host.boxes.size(), 1u);
    EXPECT_EQ(w.host.boxes[0].text, file + " " + w.host.text("STR_ERROR_OutputRemoved"));
}

// ---------------------------------------------------------------- passes

// The real writer, noting the pass of every open.
class PassRecordingWriter : public ForwardingWriter {
public:
    using ForwardingWriter::ForwardingWriter;
    bool open(const WriterOpen& p) override {
        opened.push_back({p.passIndex, p.passCount});
        return ForwardingWriter::open(p);
    }
    std::vector<std::pair<int, int>> opened;  // (pass index, pass count)
};

// "Enable2Pass" is on or off: an options.ini holding 2 (or -1) asks for two
// passes like 1 does, never for a third.
TEST(EncodeDlgPasses, TwoPassSettingGivesTwoPassesWhateverNumberTheFileHolds) {
    for (const char* stored : {"1", "2", "-1"}) {
        SCOPED_TRACE(stored);
        std::unique_ptr<PassRecordingWriter> avi;
        Window w({}, [&](RipEngines& e) {
            avi = std::make_unique<PassRecordingWriter>(*e.avi);
            e.avi = avi.get();
        });
        w.dir.write("options.ini", std::string("[Zembra_OutputSettings]\nEnable2Pass=") + stored +
                                       "\nOverWrite=1\n");
        w.settings.LoadSettings();
        w.dlg->setOutputFolderText(w.out().string());
        w.openSample();
        w.smallAvi();
        w.dlg->StartRip();
        EXPECT_EQ(w.dlg->rowsCompleted(), 1);
        EXPECT_EQ(avi->opened, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}}));
    }
}

// ---------------------------------------------------------------- plane hand-over

// The real source, with no picture in every seventh frame: the loop then
// writes the last picture again.
class GappySource : public RipSource {
public:
    explicit GappySource(RipSource& inner) : inner_(inner) {}
    Status openDecoder(const InputSettings& in, const TitleCatalogue& c, SourceFacts& f) override {
        return inner_.openDecoder(in, c, f);
    }
    bool isOpen() const override { return inner_.isOpen(); }
    void closeDecoder() override { inner_.closeDecoder(); }
    Status reopenDecoder() override { return inner_.reopenDecoder(); }
    Status scanVobFiles(const std::vector<std::string>& files, const InputSettings& in,
                        TitleCatalogue& c, const CancelToken* cancel) override {
        return inner_.scanVobFiles(files, in, c, cancel);
    }
    void setRunMode(int mode) override { inner_.setRunMode(mode); }
    int getRunMode() const override { return inner_.getRunMode(); }
    Status reseek(int64_t sector) override { return inner_.reseek(sector); }
    int getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                     int& values) override {
        const int got = inner_.getNextFrame(frame, width, height, pcm, values);
        if (got && ++frames_ % 7 == 0) frame = FrameRecord{};
        return got;
    }
    int peekFrame(FrameRecord& frame, int& width, int& height) override {
        return inner_.peekFrame(frame, width, height);
    }
    int currentTimeSeconds() const override { return inner_.currentTimeSeconds(); }
    void setPrefill(int flag) override { inner_.setPrefill(flag); }
    int64_t getCurrentSector() const override { return inner_.getCurrentSector(); }
    void setIdleStatus(const std::string& text) override { inner_.setIdleStatus(text); }
    End howEnded() const override { return inner_.howEnded(); }
    std::vector<SkippedSectors> skippedSectors() const override { return inner_.skippedSectors(); }
    void setCancel(const CancelToken* flag) override { inner_.setCancel(flag); }
    int audioSampleRate() const override { return inner_.audioSampleRate(); }
    HostRelay* relay() override { return inner_.relay(); }

private:
    RipSource& inner_;
    int frames_ = 0;
};

// The real writer, handed the planes' buffers and holder or only the
// planes; counts the frames whose buffers it took and those it was handed
// with a holder.
class LendingWriter : public ForwardingWriter {
public:
    LendingWriter(RipWriter& inner, bool lend) : ForwardingWriter(inner), lend_(lend) {}
    bool writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) override {
        if (!lend_) return ForwardingWriter::writeFrame(FramePlanes(planes.plane), pcm, pcmValues);
        const bool ok = ForwardingWriter::writeFrame(planes, pcm, pcmValues);
        if (planes.buffers && planes.buffers[0].data() != planes.plane[0]) ++taken;
        if (planes.holder) ++held;
        return ok;
    }
    int taken = 0;
    int held = 0;

private:
    bool lend_;
};

// A rip of the sample in `format` (and `zoom`, -1 for the stored one)
// through a source that leaves pictures out and a writer that copies every
// frame (lend false) or takes what the rip lends it: the file's bytes and
// how many pictures the writer took or held.
struct GappyRip {
    std::string bytes;
    int taken = 0, held = 0;
};
GappyRip gappyRip(int threads, bool lend, int format, int zoom) {
    std::unique_ptr<GappySource> gappy;
    std::unique_ptr<LendingWriter> mpeg;
    Window w({}, [&](RipEngines& e) {
        gappy = std::make_unique<GappySource>(*e.source);
        e.source = gappy.get();
        mpeg = std::make_unique<LendingWriter>(*e.mpeg, lend);
        e.mpeg = mpeg.get();
    });
    w.settings.app.threads = threads;
    w.openSample();
    w.dlg->chooseFormat(format);
    if (zoom >= 0) w.dlg->chooseZoom(zoom);
    w.dlg->chooseSplit(0);
    w.dlg->settingsChanged();
    w.dlg->StartRip();
    EXPECT_EQ(w.dlg->rowsCompleted(), 1) << w.dlg->controls.monitorLine;
    return {TempDir::read(w.out() / (w.dlg->rows()[0].outputName + ".mpg")), mpeg->taken,
            mpeg->held};
}

// The MPEG writer takes the planes' buffers instead of copying them; a
// frame without a picture after one that was taken repeats that picture all
// the same, whether the loop draws it or the thread that reads ahead does:
// the file is the one a writer that copies every frame makes.
TEST(EncodeDlgThreads, TakenPlanesLeaveTheRepeatedPicturesAsTheyWere) {
    std::string copied;
    for (int threads : {1, 2}) {
        for (bool lend : {false, true}) {
            SCOPED_TRACE(::testing::Message() << threads << " threads, lent " << lend);
            const GappyRip rip = gappyRip(threads, lend, 14, -1);  // VCD PAL
            if (lend) {
                EXPECT_GT(rip.taken, 20);
            }
            ASSERT_FALSE(rip.bytes.empty());
            if (copied.empty()) copied = rip.bytes;
            EXPECT_TRUE(rip.bytes == copied) << "other bytes";
        }
    }
}

// Full-frame DVD output of a 720 x 576 title: the geometry would only copy
// the pictures, so the decoded ones go to the writer as they lie, frames
// without a picture repeating the last; the file is the one of a writer
// that copies every frame, at one thread and with the frames read ahead.
TEST(EncodeDlgThreads, SourcePicturesWrittenAsTheyLieMakeTheSameFile) {
    std::string copied;
    for (int threads : {1, 2}) {
        for (bool lend : {false, true}) {
            SCOPED_TRACE(::testing::Message() << threads << " threads, lent " << lend);
            const GappyRip rip = gappyRip(threads, lend, 12, 3);  // DVD PAL 720 x 576, Full
            if (lend) {
                EXPECT_GT(rip.held, 20);
                EXPECT_EQ(rip.taken, 0);
            }
            ASSERT_FALSE(rip.bytes.empty());
            if (copied.empty()) copied = rip.bytes;
            EXPECT_TRUE(rip.bytes == copied) << "other bytes";
        }
    }
}

// ---------------------------------------------------------------- priority

// A raise the system refuses is said so, and the check mark stays on the
// priority in effect.
TEST(EncodeDlgPriority, RefusedRaiseIsReported) {
    RipEngines refusing;
    refusing.setPriority = [](int choice) { return choice <= 1; };
    Window w(refusing);
    w.dlg->choosePriority(1);
    EXPECT_EQ(w.dlg->controls.priorityChecked, 1);
    EXPECT_TRUE(w.host.boxes.empty());
    w.dlg->choosePriority(2);
    ASSERT_EQ(w.host.boxes.size(), 1u);
    EXPECT_EQ(w.host.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(w.host.boxes[0].text, w.host.text("STR_ERROR_PriorityRefused"));
    EXPECT_EQ(w.dlg->controls.priorityChecked, 1);
    EXPECT_EQ(w.settings.app.priority, 1);
}

// ---------------------------------------------------------------- opening

// Open IFO reads each file at once (no pause) and moves the bar per file;
// the title's aspect ratio comes with the row for the properties summary.
TEST(EncodeDlgOpen, IfoFilesShowTheirProgress) {
    using Clock = std::chrono::steady_clock;
    const std::string ifo = testing::sampleDisc() + "/VTS_01_0.IFO";
    // What reading the title set takes here (Open DVD never paused).
    Window reference;
    const auto before = Clock::now();
    reference.dlg->openDvdFolder(testing::sampleDisc());
    const auto once = Clock::now() - before;

    Window w;
    std::vector<int> progress;
    w.host.onPump = [&] {
        if (progress.empty() || progress.back() != w.dlg->controls.progress)
            progress.push_back(w.dlg->controls.progress);
    };
    const auto start = Clock::now();
    w.dlg->openIfoFiles({ifo, ifo});
    const auto twice = Clock::now() - start;
    EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
    EXPECT_LT(twice, 2 * once + std::chrono::milliseconds(300)) << "a pause per file";
    ASSERT_EQ(w.dlg->rows().size(), 2u);
    EXPECT_EQ(aspectRatioText(w.dlg->item(1)->input.sourceAspect), "4:3");
    EXPECT_EQ(aspectRatioText(0), "");
}

}  // namespace
}  // namespace zembra

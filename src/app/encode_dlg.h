#pragma once
// The main window without a toolkit: the file list and its project items,
// the selection lists, the output choices, the monitor line and progress bar,
// the Rip/Cancel button and the rip loop itself. A front end (the Qt window,
// the command line, the tests) shows this state and calls the commands.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "app/project_item.h"
#include "app/rip_seams.h"
#include "app/settings_store.h"
#include "dvd/title_catalogue.h"
#include "platform/cancel_token.h"

namespace zembra {

class UiHost;
class OutputGeometry;
class FrameFeed;
struct PictureStage;

// The VOB files of an IFO ("VTS_01_0.IFO" -> VTS_01_1.VOB, VTS_01_2.VOB, ...
// up to the first number missing), matched without regard to case.
std::vector<std::string> numberedVobFiles(const std::string& ifo);

// The VIDEO_TS folder of a disc's top folder, its name matched without
// regard to case; nothing when there is none.
std::optional<std::filesystem::path> videoTsFolder(const std::string& folder);

// The title-set IFOs (VTS_xx_0.IFO) of a DVD folder or of its VIDEO_TS
// folder. The disc's menu IFO (VIDEO_TS.IFO) holds no title and has no
// numbered VOB files, so it is left out rather than reported as unreadable.
std::vector<std::string> titleSetIfos(const std::string& folder);

struct FileRow {
    std::string outputName;  // column 0
    std::string sourcePath;  // column 1
    std::string chapters;    // column 2
    std::string time;        // column 3
    bool checked = true;
    bool selected = false;
};

// A selection list: entries and the selected index (-1 none).
struct ChoiceList {
    std::vector<std::string> entries;
    int selected = -1;
    bool enabled = true;
};

// What the window's controls show that the controller sets as it goes: the
// selection lists, the output folder field, the Rip button's text, the
// monitor line, the progress bar, which controls take input and the check
// mark of the Priority menu.
struct ControlState {
    ChoiceList indexList, audioList, subtitleList, angleList, formatList, zoomList, splitList;
    std::string outputFolder;
    std::string ripButtonText;
    std::string monitorLine;
    int progress = 100;
    bool ripEnabled = false;
    bool removeEnabled = false;
    bool splitSettingEnabled = false;
    bool controlsEnabled = true;
    int priorityChecked = 0;
};

// A copy of all the main window shows, taken from the controller on the
// thread that changed it. A window draws only from such copies, so it never
// reads the controller while a rip runs on a worker thread.
struct ViewState {
    ControlState controls;
    std::vector<FileRow> rows;
    int currentItem = -1;
    bool hasCurrentItem = false;
    bool ripping = false;
    bool busy = false;
    bool decoderOpen = false;
    // The display choices of the Crop menu.
    bool correct43 = false;
    bool showResolution = true;
    bool renderSource = false;
    bool customZoom = false;
    bool shutDown = false;  // switch the computer off when the rip is done
};

// The engines the window drives, owned by the application.
struct RipEngines {
    RipSource* source = nullptr;
    RipWriter* avi = nullptr;
    RipWriter* mpeg = nullptr;
    // Millisecond tick for the monitor (a test clock may stand in).
    std::function<uint32_t()> tick;
    // Process priority and shutdown (the platform layer by default).
    std::function<bool(int)> setPriority;
    std::function<bool()> shutdown;
};

// SourceFacts::aspectRatio as the properties summary shows it: "4:3",
// "16:9", "1:1" or "2.21:1"; empty when unknown.
std::string aspectRatioText(int aspectRatio);

// Why the window may or may not close.
enum class CloseResult { Closed, Ripping, SaveFailed };

// The main window's logic, without a toolkit: the window, the command line and
// the tests call its commands. Commands are verbs in lower camel case
// (openDvd, removeSelected, choosePriority); the rip loop's StartRip, RipRun,
// ProgressMonitor, SplitCheck and Shutdown keep the names the program's
// documents have always used for them.
class EncodeDlg {
public:
    EncodeDlg(UiHost& host, SettingsStore& settings, TitleCatalogue& catalogue, RipEngines engines,
              MainView* view = nullptr);
    ~EncodeDlg();

    // --- Opening sources ---
    void openDvd();                                 // folder chooser, one row per IFO
    void openIfo();                                 // file chooser
    void openVob();                                 // file chooser
    void openDvdFolder(const std::string& folder);  // Open DVD with a chosen folder
    void openIfoFiles(const std::vector<std::string>& ifos);
    void openVobFiles(const std::vector<std::string>& files);
    // How an Open runs once its source is chosen: at once (the default, as
    // the command line and the tests want it), or handed by a window to a
    // worker thread so that a slow disc never freezes it.
    using OpenRunner = std::function<void(std::function<void()> open)>;
    void setOpenRunner(OpenRunner runner) { openRunner_ = std::move(runner); }

    // --- File list ---
    void selectRows(const std::vector<int>& rows);
    void selectRow(int row) { selectRows({row}); }
    void removeSelected();
    void removeAll();
    void checkSelected();
    void uncheckSelected();
    void checkAll();
    void uncheckAll();
    void setOutputName(int row, const std::string& name);
    void setRowChecked(int row, bool checked);  // the row's check box
    // Properties OK: the row's own settings. For the current row the global
    // records follow and the row is applied again.
    void setItemSettings(int row, const InputSettings& input, const OutputSettings& output);

    // --- Selection lists ---
    void chooseIndex(int index);
    void chooseAudio(int index);
    void chooseSubtitle(int index);
    void chooseAngle(int index);
    // Chapters from..to of the row's title (from 1); 0, 0 for the whole title.
    void chooseChapters(int from, int to);
    void chooseFormat(int index);
    void chooseZoom(int index);
    void chooseSplit(int index);

    // --- Output folder ---
    void browseOutputFolder();
    void setOutputFolderText(const std::string& text);  // typed, then the field is left

    // --- Settings menu ---
    void choosePriority(int choice);  // 0 Normal .. 3 RealTime
    // Copies the current item back after a dialog changed the global records.
    void settingsChanged();
    // After a language switch: the lists' texts, the "None" entries and the
    // button text again, with every selection kept.
    void retranslate();

    // --- Setting > Crop display commands (each redraws the preview) ---
    void toggleCorrect43();
    void toggleShowResolution();
    void setRenderSource(bool source);  // only takes with the Custom zoom
    // 0 4/3 Correct, 1 Selection, 2 Preserve Ratio: asks before it sets the
    // proposed Width x Height; returns the answer.
    bool adjustOutputResolution(int mode);
    // The size of the view's picture area, for the source view.
    void setPreviewArea(int width, int height);
    // Draws the current row's picture again (its snapshot, through the
    // output geometry or in the source view).
    void redrawPreview();

    // --- The rip ---
    // The button: in idle prepareRip + runRip + finishRip (and the shutdown)
    // on this thread; while a rip runs it is requestCancel().
    void StartRip();
    // The rip in three steps, so that a window can run the middle one on a
    // worker thread. prepareRip (window thread): applies the Format entry
    // again, collects the checked rows, checks the output folder and enters
    // the ripping state; false when there is nothing to run.
    bool prepareRip();
    // Rips the rows prepareRip chose; talks to the user only through UiHost
    // and MainView (from the thread it runs on). Stays busy() afterwards.
    void runRip();
    // Window thread, after runRip returned: the idle state. True when the
    // computer is to be switched off (ShutDown set, the run not cancelled).
    bool finishRip();
    // "Stop process ?"; Yes raises the three cancel flags. Touches nothing
    // else, so the window's thread may call it while runRip runs elsewhere.
    bool requestCancel();
    // A confirmed stop without the question (Ctrl-C when nobody can answer).
    void cancelNow();
    int RipRun();
    void ProgressMonitor(int total, int passFrames, int passIndex, int passCount);
    void SplitCheck(int limitMB);
    void Shutdown();
    // Closing the window: Ripping (with "Stop encoder before exiting.")
    // while a rip runs; otherwise closes the decoder and saves the settings
    // (SaveFailed when options.ini could not be written).
    CloseResult closeWindow();

    // --- State a view shows ---
    const std::vector<FileRow>& rows() const { return rows_; }
    int currentItem() const { return current_; }
    const DVDProjectItem* item(int row) const;
    ControlState controls;
    // What a window shows, copied whole (on the thread that changed it).
    ViewState viewState() const;
    bool ripping() const { return ripping_; }
    bool idle() const { return idle_; }
    // From prepareRip to finishRip, and during an Open: every command but
    // requestCancel is ignored then. busy() && !ripping() while a rip runs
    // is its unwinding after a stop: nothing is enabled.
    bool busy() const { return running_ || opening_; }
    // Both false while a rip runs: the rip's thread changes them, and no
    // command that asks is taken then anyway.
    bool decoderOpen() const { return !running_ && decoderOpen_; }
    bool hasCurrentItem() const {
        return !running_ && current_ >= 0 && current_ < int(items_.size());
    }

    // Rows that were ripped to the end in the last StartRip (no failure, no cancel).
    int rowsCompleted() const { return rowsCompleted_; }
    int rowsAttempted() const { return rowsAttempted_; }
    // The three cancel tokens: MPEG writer, AVI writer, reader and scan.
    CancelToken cancelMpeg, cancelAvi, cancelReader;
    bool cancelled() const {
        return cancelMpeg.requested() || cancelAvi.requested() || cancelReader.requested();
    }
    void requestCancels() {
        cancelReader.request();
        cancelAvi.request();
        cancelMpeg.request();
    }
    void clearCancels() {
        cancelReader.clear();
        cancelAvi.clear();
        cancelMpeg.clear();
    }

    // The stream ids and coding the decoder is opened with, from the chosen
    // title's Audio and Subtitle list positions (zembra decode opens its own).
    static void resolveStreamIds(InputSettings& input, const TitleCatalogue& catalogue);
    // The warning that sectors were skipped over read errors: `caption`, how
    // many, and where in the playing time. Empty when none were.
    static std::string skippedSectorsText(const std::vector<SkippedSectors>& skipped,
                                          const std::string& caption);

    // The output-geometry step used per frame (set up by the rip).
    OutputGeometry* geometry() { return geometry_.get(); }

private:
    void openIfoList(const std::vector<std::string>& ifos,
                     const std::vector<std::vector<std::string>>& vobs);
    bool addIfoEntry(const std::string& ifo, const std::vector<std::string>* knownVobs);
    bool openTitleForRip(bool isIfo);
    bool openTitleForRipSafely(bool isIfo);
    bool keepChaptersOfRow();
    bool openDecoderOnCurrent();
    // The source decodes from `sector` on; a failure is shown.
    bool restartAt(int64_t sector);
    void addRow(FileRow row, std::unique_ptr<DVDProjectItem> item);
    void applyItem(int row);
    void chooseListEntry(ChoiceList& list, int InputSettings::*setting, int index);
    void refillSelectionLists();
    void refillStreamLists();
    void fillStaticLists();
    void setIdleState();
    void setRippingState();
    void afterRowsRemoved(int nearest);
    void notify();
    void storeOutputInCurrent();
    void cropDisplayChanged();
    void takeSnapshot(DVDProjectItem& item);
    void showTitleOfIndex();
    void runOpen(std::function<void()> open);
    bool previewOf(const FrameRecord& source, PreviewFrame& frame);
    void drawRipFrame(const uint8_t* const planes[3], int total);
    void raiseCancel();
    bool openPass(int passIndex, int passCount);
    bool prepareGeometry();
    void runPasses(RipWriter& w, int passCount, bool drawsPictures, int& total);
    void runPass(RipWriter& w, FrameFeed& feed, int pass, int passCount, bool drawsPictures,
                 int& total, int& passFrames);
    int feedDepth() const;
    bool drawPicture(const FrameRecord& frame, uint8_t* const planes[3]) const;
    PictureStage pictureStage(bool drawsPictures) const;
    bool passesThrough(const FrameRecord& frame) const;
    size_t outputPlaneSize(int plane, bool drawsPictures) const;
    void takeOrDrawPicture(FrameFeed& feed, const FrameRecord& frame);
    void closeAfterFailure(RipWriter& w);
    void checkOutputKept();
    void noteSourceEnd();
    void applyFormatAgain();
    void reportSkippedSectors();
    void reportUndecodedSound(bool soundWritten);
    RipWriter* writer() const;
    bool aviOutput() const { return settings_.output.mpegStream >= 2; }
    std::string text(const char* key) const;

    UiHost& host_;
    SettingsStore& settings_;
    TitleCatalogue& catalogue_;
    RipEngines engines_;
    MainView* view_;
    OpenRunner openRunner_;
    std::unique_ptr<OutputGeometry> geometry_;
    std::unique_ptr<OutputGeometry> previewGeometry_;  // the window thread's own
    int previewAreaWidth_ = 0, previewAreaHeight_ = 0;

    std::vector<FileRow> rows_;
    std::vector<std::unique_ptr<DVDProjectItem>> items_;
    int current_ = -1;
    bool applyingItem_ = false;  // blocks the rip start while a row is applied

    // Rip state. ripping_, idle_, running_ and the cancel flags are read
    // by the window's thread while the rip runs on another.
    std::atomic<bool> ripping_{false};
    std::atomic<bool> idle_{true};
    std::atomic<bool> running_{false};  // prepareRip .. finishRip
    bool opening_ = false;
    std::vector<int> ripRows_;
    bool shutdownDue_ = false;
    bool closingLineShown_ = false;
    bool decoderOpen_ = false;
    bool writerOk_ = false;
    int64_t startPosition_ = 0;
    int64_t pieceStart_ = 0;  // where the source was sought for the piece being written
    uint32_t startTick_ = 0;
    int updateInterval_ = 5;
    std::string outputFile_;
    SourceFacts facts_;
    std::vector<uint8_t> planes_[3];
    // The frame the output picture last came from: drawn again for a frame
    // without a picture once the planes no longer hold it (the writer took
    // them, or the picture was written as it lay; planesHoldPicture_ false).
    FrameRecord lastPicture_;
    bool planesHoldPicture_ = true;
    int rowsCompleted_ = 0;
    int rowsAttempted_ = 0;
    bool runFailed_ = false;
    // The frames of the pass now running, when they are made ahead.
    FrameFeed* feed_ = nullptr;
    // Of the sectors skipped over read errors, how many a rip that stopped
    // taking frames early had reached (the rest lie beyond its output).
    size_t skippedReached_ = SIZE_MAX;
};

}  // namespace zembra

#include "app/encode_dlg.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/output_options.h"
#include "dvd/title_set.h"
#include "geometry/output_geometry.h"
#include "geometry/preview.h"
#include "platform/paths.h"
#include "platform/priority.h"
#include "platform/shutdown.h"
#include "platform/ui_host.h"

namespace zembra {

namespace fs = std::filesystem;

namespace {

std::string hms(int seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return buffer;
}

std::string extensionOf(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

uint32_t steadyTick() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

// The VOB files of an IFO: its name cut at the last '.', less the one
// character before it (VTS_01_0.IFO gives VTS_01_), then 1, 2, ... while
// such a file exists; names match without regard to case.
std::vector<std::string> numberedVobFiles(const std::string& ifo) {
    std::vector<std::string> files;
    size_t dot = ifo.rfind('.');
    if (dot == std::string::npos || dot == 0) return files;
    std::string stem = ifo.substr(0, dot - 1);
    for (int n = 1;; ++n) {
        fs::path candidate = resolveNoCase(stem + std::to_string(n) + ".vob");
        std::error_code ec;
        if (!fs::is_regular_file(candidate, ec)) break;
        files.push_back(candidate.string());
    }
    return files;
}

std::optional<fs::path> videoTsFolder(const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc) && equalsNoCase(it->path().filename().string(), "VIDEO_TS"))
            return it->path();
    }
    return std::nullopt;
}

std::string aspectRatioText(int aspectRatio) {
    switch (aspectRatio) {
        case 1:
            return "1:1";
        case 2:
            return "4:3";
        case 3:
            return "16:9";
        case 4:
            return "2.21:1";
        default:
            return {};
    }
}

std::vector<std::string> titleSetIfos(const std::string& folder) {
    auto ifos = findFilesNoCase(folder, "VTS_*_0.IFO");
    if (ifos.empty())
        if (auto sub = videoTsFolder(folder)) ifos = findFilesNoCase(*sub, "VTS_*_0.IFO");
    std::vector<std::string> paths;
    for (const auto& p : ifos) paths.push_back(p.string());
    return paths;
}

namespace {

// Every other IFO of a folder without title-set IFOs (files renamed by hand
// still open), but never the disc's menu IFO.
std::vector<std::string> otherIfos(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& p : findFilesNoCase(folder, "*.IFO"))
        if (!equalsNoCase(p.filename().string(), "VIDEO_TS.IFO")) paths.push_back(p.string());
    return paths;
}

}  // namespace

EncodeDlg::EncodeDlg(UiHost& host, SettingsStore& settings, TitleCatalogue& catalogue,
                     RipEngines engines, MainView* view)
    : host_(host),
      settings_(settings),
      catalogue_(catalogue),
      engines_(std::move(engines)),
      view_(view),
      geometry_(std::make_unique<OutputGeometry>()),
      previewGeometry_(std::make_unique<OutputGeometry>()) {
    if (!engines_.tick) engines_.tick = steadyTick;
    if (!engines_.setPriority)
        engines_.setPriority = [](int c) { return setProcessPriority(priorityFromChoice(c)); };
    if (!engines_.shutdown) engines_.shutdown = [] { return shutdownComputer(); };
    for (RipWriter* w : {engines_.avi, engines_.mpeg})
        if (w) w->setCancel(w == engines_.avi ? &cancelAvi : &cancelMpeg);
    if (engines_.source) engines_.source->setCancel(&cancelReader);
    catalogue_.clear();
    controls.outputFolder = settings_.app.outputPath;
    controls.priorityChecked = settings_.app.priority;
    fillStaticLists();
    refillSelectionLists();
    setIdleState();
}

EncodeDlg::~EncodeDlg() = default;

std::string EncodeDlg::text(const char* key) const { return host_.text(key); }

const DVDProjectItem* EncodeDlg::item(int row) const {
    return row >= 0 && row < int(items_.size()) ? items_[size_t(row)].get() : nullptr;
}

ViewState EncodeDlg::viewState() const {
    ViewState s;
    s.controls = controls;
    s.rows = rows_;
    s.currentItem = current_;
    s.hasCurrentItem = hasCurrentItem();
    s.ripping = ripping();
    s.busy = busy();
    s.decoderOpen = decoderOpen();
    const OutputSettings& out = settings_.output;
    s.correct43 = out.correct43;
    s.showResolution = out.showResolution;
    s.renderSource = out.renderSource;
    s.customZoom = out.zoomMode == kZoomCustom;
    s.shutDown = settings_.input.shutDown;
    return s;
}

void EncodeDlg::notify() {
    if (view_) view_->refresh();
}

void EncodeDlg::fillStaticLists() {
    auto fill = [&](ChoiceList& list, int count, std::string (*key)(int), int selected) {
        list.entries.clear();
        for (int i = 0; i < count; ++i) list.entries.push_back(host_.text(key(i)));
        list.selected = (selected >= 0 && selected < count) ? selected : 0;
    };
    fill(controls.formatList, kFormatCount, formatKey, settings_.output.formatIndex);
    fill(controls.zoomList, kZoomCount, zoomKey, settings_.output.zoomMode);
    fill(controls.splitList, kSplitCount, splitKey, settings_.output.splitMode);
    controls.angleList.entries = {text("STR_MAIN_COMBO_Angle_All")};
    for (int i = 1; i <= 16; ++i) controls.angleList.entries.push_back(std::to_string(i));
    controls.angleList.selected = std::clamp(settings_.input.angle, 0, 16);
}

void EncodeDlg::retranslate() {
    if (busy()) return;
    const ChoiceList format = controls.formatList, zoom = controls.zoomList,
                     split = controls.splitList, angle = controls.angleList;
    const ChoiceList index = controls.indexList, audio = controls.audioList,
                     subtitle = controls.subtitleList;
    fillStaticLists();
    if (rows_.empty()) {
        controls.indexList.entries = {text("STR_MAIN_COMBO_Index_None")};
        controls.audioList.entries = {text("STR_MAIN_COMBO_Audio_None")};
        controls.subtitleList.entries = {text("STR_MAIN_COMBO_Subtitle_None")};
    } else {
        refillSelectionLists();
    }
    // Only the texts change: every list keeps its selection and state.
    auto keep = [](ChoiceList& list, const ChoiceList& before) {
        list.enabled = before.enabled;
        if (before.selected < int(list.entries.size())) list.selected = before.selected;
    };
    keep(controls.formatList, format);
    keep(controls.zoomList, zoom);
    keep(controls.splitList, split);
    keep(controls.angleList, angle);
    keep(controls.indexList, index);
    keep(controls.audioList, audio);
    keep(controls.subtitleList, subtitle);
    controls.ripButtonText = text(ripping_ ? "STR_MAIN_BUTTON_CancelRip" : "STR_MAIN_BUTTON_Rip");
    notify();
}

void EncodeDlg::refillSelectionLists() {
    controls.indexList.entries.clear();
    for (const TitleRecord& t : catalogue_.titles) controls.indexList.entries.push_back(t.label);
    if (controls.indexList.entries.empty()) {
        controls.indexList.entries.push_back(text("STR_MAIN_COMBO_Index_None"));
        controls.indexList.selected = 0;
    } else {
        if (settings_.input.titleIndex < 0 || settings_.input.titleIndex >= catalogue_.count())
            settings_.input.titleIndex = 0;
        controls.indexList.selected = settings_.input.titleIndex;
    }
    refillStreamLists();
    controls.angleList.selected = std::clamp(settings_.input.angle, 0, 16);
}

void EncodeDlg::refillStreamLists() {
    const TitleRecord* title = catalogue_.title(settings_.input.titleIndex);
    controls.audioList.entries.clear();
    controls.subtitleList.entries = {text("STR_MAIN_COMBO_Subtitle_None")};
    if (title) {
        for (int i = 0; i < title->audioCount && i < kMaxAudioSlots; ++i)
            controls.audioList.entries.push_back(title->audioText[size_t(i)]);
        for (int i = 0; i < title->subpictureCount && i < kMaxSubpictureSlots; ++i)
            controls.subtitleList.entries.push_back(title->subpictureText[size_t(i)]);
    }
    if (controls.audioList.entries.empty()) {
        controls.audioList.entries.push_back(text("STR_MAIN_COMBO_Audio_None"));
        controls.audioList.selected = 0;
    } else {
        controls.audioList.selected =
            settings_.input.audioTrack >= 0 &&
                    settings_.input.audioTrack < int(controls.audioList.entries.size())
                ? settings_.input.audioTrack
                : 0;
    }
    controls.subtitleList.selected =
        settings_.input.subtitle < int(controls.subtitleList.entries.size())
            ? std::max(settings_.input.subtitle, 0)
            : 0;
}

void EncodeDlg::resolveStreamIds(InputSettings& in, const TitleCatalogue& catalogue) {
    const TitleRecord* title = catalogue.title(in.titleIndex);
    in.audioId = -1;
    in.audioFormat = 0;
    in.subtitleId = 255;
    if (!title) return;
    if (in.audioTrack >= 0 && in.audioTrack < title->audioCount && in.audioTrack < kMaxAudioSlots) {
        int coding = title->audioCoding[size_t(in.audioTrack)];
        in.audioId = audioStreamIdBase(coding) + title->audioStream[size_t(in.audioTrack)];
        in.audioFormat = coding;
    }
    if (in.subtitle > 0 && in.subtitle - 1 < title->subpictureCount &&
        in.subtitle - 1 < kMaxSubpictureSlots)
        in.subtitleId = 0x20 + title->subpictureStream[size_t(in.subtitle - 1)];
}

// ---------------------------------------------------------------- sources

void EncodeDlg::openDvd() {
    if (!view_ || busy()) return;
    auto folder = view_->chooseFolder(text("STR_ERROR_202"));
    if (folder) runOpen([this, chosen = *folder] { openDvdFolder(chosen); });
}

void EncodeDlg::openIfo() {
    if (!view_ || busy()) return;
    auto files = view_->chooseFiles(text("STR_MAIN_DLG_OpenIFOTitle"),
                                    text("STR_MAIN_DLG_OpenIFOFilter"), ".IFO");
    if (!files.empty()) runOpen([this, files] { openIfoFiles(files); });
}

void EncodeDlg::openVob() {
    if (!view_ || busy()) return;
    auto files = view_->chooseFiles(text("STR_MAIN_DLG_OpenVOBTitle"),
                                    text("STR_MAIN_DLG_OpenVOBFilter"), ".VOB");
    if (!files.empty()) runOpen([this, files] { openVobFiles(files); });
}

void EncodeDlg::runOpen(std::function<void()> open) {
    if (openRunner_)
        openRunner_(std::move(open));
    else
        open();
}

void EncodeDlg::openDvdFolder(const std::string& chosen) {
    if (busy()) return;
    std::error_code ec;
    std::vector<std::string> ifos;
    std::vector<std::vector<std::string>> vobs;
    if (fs::is_directory(chosen, ec)) {
        const std::string folder = withTrailingSlash(chosen);
        ifos = titleSetIfos(folder);
        if (ifos.empty()) ifos = otherIfos(folder);
    } else {
        // A disc image or drive: the title sets are found through its file system.
        for (const TitleSetFiles& set : findTitleSets(chosen)) {
            ifos.push_back(set.ifo);
            vobs.push_back(set.vobs);
        }
    }
    openIfoList(ifos, vobs);
}

void EncodeDlg::openIfoFiles(const std::vector<std::string>& ifos) {
    if (busy()) return;
    openIfoList(ifos, {});
}

// The window is disabled while the files are read (the Rip button too: a
// rip must not start on a half-filled list); the bar shows the files
// handled of those not failed so far.
void EncodeDlg::openIfoList(const std::vector<std::string>& ifos,
                            const std::vector<std::vector<std::string>>& vobs) {
    if (ifos.empty()) return;
    opening_ = true;
    controls.controlsEnabled = false;
    controls.ripEnabled = false;
    controls.progress = 0;
    int failures = 0;
    for (size_t i = 0; i < ifos.size(); ++i) {
        controls.monitorLine = ifos[i];
        notify();
        if (!addIfoEntry(ifos[i], vobs.empty() ? nullptr : &vobs[i])) ++failures;
        int handled = int(i) + 1;
        int denominator = int(ifos.size()) - failures;
        if (denominator > 0) controls.progress = std::min(100, handled * 100 / denominator);
        notify();
        host_.pumpMessages();
    }
    opening_ = false;
    controls.controlsEnabled = true;
    controls.ripEnabled = controls.removeEnabled = !rows_.empty();
    controls.progress = 100;
    if (!rows_.empty()) selectRow(int(rows_.size()) - 1);
    notify();
}

bool EncodeDlg::addIfoEntry(const std::string& ifo, const std::vector<std::string>* knownVobs) {
    InputSettings& in = settings_.input;
    in.sourcePath = ifo;
    if (engines_.source && engines_.source->isOpen()) engines_.source->closeDecoder();
    if (!parseIfo(catalogue_, ifo, host_)) return false;

    std::vector<std::string> vobs = knownVobs ? *knownVobs : numberedVobFiles(ifo);
    if (vobs.empty()) {
        host_.error("STR_ERROR_211");
        return false;
    }
    in.vobFiles = vobs;
    // A newly opened title set shows its main feature, the title a user
    // most likely wants, rather than whichever title was chosen last.
    in.titleIndex = std::max(0, mainTitleIndex(catalogue_));
    in.chapterFrom = in.chapterTo = 0;  // and its whole title
    resolveStreamIds(in, catalogue_);
    decoderOpen_ = openDecoderOnCurrent();
    const TitleRecord* title = catalogue_.title(in.titleIndex);
    in.duration = title ? title->duration : 0.0;
    in.startSector = title && !title->cells.empty() ? title->cells.front().firstSector : 0;
    controls.monitorLine = decoderOpen_ ? text("STR_MAIN_LABEL_MONITOR_ReadyToEncode") : "";
    if (!decoderOpen_) return false;

    FileRow row;
    row.outputName = text("STR_MAIN_LISTVIEW_Title") + "_" + std::to_string(rows_.size());
    row.sourcePath = ifo;
    row.chapters = std::to_string(vobs.size());
    const TitleRecord* last =
        catalogue_.count() ? catalogue_.title(catalogue_.count() - 1) : nullptr;
    // Its running time from its cells: only the title opened above has its
    // duration set, so another last title would show 00:00:00.
    row.time = hms(last ? int(runningTime(*last)) : 0);
    auto item = std::make_unique<DVDProjectItem>(DVDProjectItem::kIfo, int(rows_.size()), in,
                                                 settings_.output, &catalogue_);
    takeSnapshot(*item);
    PreviewFrame frame;
    if (view_ && previewOf(item->snapshot, frame)) view_->drawPreview(frame);
    addRow(std::move(row), std::move(item));
    return true;
}

bool EncodeDlg::openDecoderOnCurrent() {
    if (!engines_.source) return false;
    engines_.source->setRunMode(1);
    SourceFacts facts;
    const Status opened = engines_.source->openDecoder(settings_.input, catalogue_, facts);
    host_.show(opened);
    if (opened) {
        facts_ = facts;
        settings_.input.sourceFrameRate = facts.frameRate;
        settings_.input.chromaFormat = facts.chromaFormat;
        settings_.input.sourceWidth = facts.width;
        settings_.input.sourceHeight = facts.height;
        settings_.input.sourceAspect = facts.aspectRatio;
    }
    return opened.ok();
}

void EncodeDlg::openVobFiles(const std::vector<std::string>& files) {
    if (busy()) return;
    for (const std::string& file : files) {
        FileRow row;
        row.outputName = text("STR_MAIN_LISTVIEW_Title") + "_" + std::to_string(rows_.size());
        row.sourcePath = file;
        InputSettings input = settings_.input;
        input.chapterFrom = input.chapterTo = 0;  // a new row rips its whole title
        auto item = std::make_unique<DVDProjectItem>(DVDProjectItem::kVobFile, int(rows_.size()),
                                                     input, settings_.output, nullptr);
        addRow(std::move(row), std::move(item));
    }
    if (!rows_.empty()) selectRow(int(rows_.size()) - 1);
    notify();
}

void EncodeDlg::addRow(FileRow row, std::unique_ptr<DVDProjectItem> item) {
    item->row = int(rows_.size());
    rows_.push_back(std::move(row));
    items_.push_back(std::move(item));
    controls.ripEnabled = !opening_;
    controls.removeEnabled = true;
}

// ---------------------------------------------------------------- file list

void EncodeDlg::selectRows(const std::vector<int>& selection) {
    if (busy()) return;
    for (auto& r : rows_) r.selected = false;
    for (int r : selection)
        if (r >= 0 && r < int(rows_.size())) rows_[size_t(r)].selected = true;
    int count = int(std::count_if(rows_.begin(), rows_.end(), [](auto& r) { return r.selected; }));
    bool single = count == 1;
    for (ChoiceList* l :
         {&controls.indexList, &controls.audioList, &controls.subtitleList, &controls.angleList})
        l->enabled = single;
    if (single) {
        int row = int(std::find_if(rows_.begin(), rows_.end(), [](auto& r) { return r.selected; }) -
                      rows_.begin());
        const std::string ext = extensionOf(rows_[size_t(row)].sourcePath);
        if (!ext.empty()) applyItem(row);
    }
    notify();
}

void EncodeDlg::applyItem(int row) {
    applyingItem_ = true;
    DVDProjectItem& it = *items_[size_t(row)];
    controls.monitorLine = rows_[size_t(row)].sourcePath;
    current_ = row;
    settings_.input = it.input;
    settings_.output = it.output;
    it.copyCatalogueTo(catalogue_);
    refillSelectionLists();
    controls.formatList.selected = settings_.output.formatIndex;
    controls.zoomList.selected = settings_.output.zoomMode;
    controls.splitList.selected = settings_.output.splitMode;
    applyingItem_ = false;
    redrawPreview();
}

void EncodeDlg::settingsChanged() {
    if (busy()) return;
    if (hasCurrentItem()) {
        items_[size_t(current_)]->setInputSettings(settings_.input);
        items_[size_t(current_)]->setOutputSettings(settings_.output);
    }
    redrawPreview();
    notify();
}

void EncodeDlg::setItemSettings(int row, const InputSettings& input, const OutputSettings& output) {
    if (busy() || row < 0 || row >= int(items_.size())) return;
    DVDProjectItem& item = *items_[size_t(row)];
    auto keepChanged = [](std::optional<int>& own, int before, int after) {
        if (after != before) own = after;
    };
    keepChanged(item.own.videoBitRate, item.output.videoBitRate, output.videoBitRate);
    keepChanged(item.own.audioBitRate, item.output.audioBitRate, output.audioBitRate);
    keepChanged(item.own.width, item.output.width, output.width);
    keepChanged(item.own.height, item.output.height, output.height);
    item.setInputSettings(input);
    item.setOutputSettings(output);
    if (row == current_) applyItem(row);
    notify();
}

void EncodeDlg::removeSelected() {
    if (busy()) return;
    int last = -1;
    for (int r = int(rows_.size()) - 1; r >= 0; --r) {
        if (!rows_[size_t(r)].selected) continue;
        rows_.erase(rows_.begin() + r);
        items_.erase(items_.begin() + r);
        last = r;
    }
    if (last < 0) return;
    for (size_t i = 0; i < items_.size(); ++i) items_[i]->row = int(i);
    afterRowsRemoved(last);
}

void EncodeDlg::removeAll() {
    if (busy()) return;
    rows_.clear();
    items_.clear();
    afterRowsRemoved(0);
}

void EncodeDlg::afterRowsRemoved(int nearest) {
    current_ = -1;
    if (rows_.empty()) {
        controls.ripEnabled = false;
        controls.removeEnabled = false;
        controls.indexList.entries = {text("STR_MAIN_COMBO_Index_None")};
        controls.indexList.selected = 0;
        controls.audioList.entries = {text("STR_MAIN_COMBO_Audio_None")};
        controls.audioList.selected = 0;
        controls.monitorLine.clear();
        if (engines_.source && engines_.source->isOpen()) engines_.source->closeDecoder();
        decoderOpen_ = false;
        if (view_) view_->showLogo();
        notify();
        return;
    }
    selectRow(std::min(nearest, int(rows_.size()) - 1));
}

void EncodeDlg::checkSelected() {
    if (busy()) return;
    for (auto& r : rows_)
        if (r.selected) {
            r.checked = true;
            break;
        }
    notify();
}

void EncodeDlg::uncheckSelected() {
    if (busy()) return;
    for (auto& r : rows_)
        if (r.selected) {
            r.checked = false;
            break;
        }
    notify();
}

void EncodeDlg::checkAll() {
    if (busy()) return;
    for (auto& r : rows_) r.checked = true;
    notify();
}

void EncodeDlg::uncheckAll() {
    if (busy()) return;
    for (auto& r : rows_) r.checked = false;
    notify();
}

void EncodeDlg::setOutputName(int row, const std::string& name) {
    if (busy()) return;
    if (row >= 0 && row < int(rows_.size())) rows_[size_t(row)].outputName = name;
    notify();
}

void EncodeDlg::setRowChecked(int row, bool checked) {
    if (busy() || row < 0 || row >= int(rows_.size())) return;
    rows_[size_t(row)].checked = checked;
    notify();
}

// ---------------------------------------------------------------- selection lists

void EncodeDlg::chooseIndex(int index) {
    if (busy()) return;
    if (index < 0 || index >= int(controls.indexList.entries.size()) || catalogue_.count() == 0)
        return;
    controls.indexList.selected = index;
    settings_.input.titleIndex = index;
    if (current_ >= 0) items_[size_t(current_)]->input.titleIndex = index;
    refillStreamLists();
    showTitleOfIndex();
    notify();
}

// The preview follows the Index list: a title set row opens the decoder on
// the chosen title and keeps a frame of it.
void EncodeDlg::showTitleOfIndex() {
    if (current_ < 0 || !engines_.source) return;
    if (!equalsNoCase(extensionOf(rows_[size_t(current_)].sourcePath), ".ifo")) return;
    InputSettings& in = settings_.input;
    if (engines_.source->isOpen()) engines_.source->closeDecoder();
    resolveStreamIds(in, catalogue_);
    decoderOpen_ = openDecoderOnCurrent();
    DVDProjectItem& item = *items_[size_t(current_)];
    item.snapshot = {};
    takeSnapshot(item);
    redrawPreview();
}

void EncodeDlg::chooseAudio(int index) {
    chooseListEntry(controls.audioList, &InputSettings::audioTrack, index);
}

void EncodeDlg::chooseSubtitle(int index) {
    chooseListEntry(controls.subtitleList, &InputSettings::subtitle, index);
}

void EncodeDlg::chooseAngle(int index) {
    chooseListEntry(controls.angleList, &InputSettings::angle, index);
}

// A list whose position is the setting itself, kept by the current row too.
void EncodeDlg::chooseListEntry(ChoiceList& list, int InputSettings::*setting, int index) {
    if (busy()) return;
    if (index < 0 || index >= int(list.entries.size())) return;
    list.selected = index;
    settings_.input.*setting = index;
    if (current_ >= 0) items_[size_t(current_)]->input.*setting = index;
    notify();
}

void EncodeDlg::chooseChapters(int from, int to) {
    if (busy()) return;
    settings_.input.chapterFrom = from;
    settings_.input.chapterTo = to;
    if (current_ >= 0) {
        items_[size_t(current_)]->input.chapterFrom = from;
        items_[size_t(current_)]->input.chapterTo = to;
    }
    notify();
}

void EncodeDlg::chooseFormat(int index) {
    if (busy()) return;
    if (index < 0 || index >= kFormatCount) return;
    controls.formatList.selected = index;
    applyFormat(index, settings_.input, settings_.output);
    if (current_ >= 0) {
        DVDProjectItem& item = *items_[size_t(current_)];
        applyFormat(index, item.input, item.output);
        item.own = {};
    }
    redrawPreview();
    notify();
}

void EncodeDlg::chooseZoom(int index) {
    if (busy()) return;
    if (index < 0 || index >= kZoomCount) return;
    controls.zoomList.selected = index;
    applyZoom(index, settings_.output);
    if (current_ >= 0) applyZoom(index, items_[size_t(current_)]->output);
    redrawPreview();
    notify();
}

void EncodeDlg::chooseSplit(int index) {
    if (busy()) return;
    if (index < 0 || index >= kSplitCount) return;
    controls.splitList.selected = index;
    settings_.output.splitMode = index;
    if (current_ >= 0) items_[size_t(current_)]->output.splitMode = index;
    controls.splitSettingEnabled = index == kSplitCustom;
    notify();
}

// ---------------------------------------------------------------- output folder

void EncodeDlg::browseOutputFolder() {
    if (!view_ || busy()) return;
    auto folder = view_->chooseFolder(text("STR_ERROR_201"));
    if (!folder) return;
    controls.outputFolder = withTrailingSlash(*folder);
    settings_.app.outputPath = controls.outputFolder;
    settings_.input.cacheFile = controls.outputFolder + "hdcache.dat";
    notify();
}

void EncodeDlg::setOutputFolderText(const std::string& typed) {
    if (busy()) return;
    controls.outputFolder = withTrailingSlash(typed);
    settings_.app.outputPath = controls.outputFolder;
    std::error_code ec;
    if (fs::is_directory(controls.outputFolder, ec))
        settings_.input.cacheFile = controls.outputFolder + "hdcache.dat";
    notify();
}

// ---------------------------------------------------------------- settings menu

void EncodeDlg::choosePriority(int choice) {
    if (busy() || choice < 0 || choice > 3) return;
    if (!engines_.setPriority(choice)) {
        // The program goes on at its old priority: the check mark (and the
        // stored choice) stay there, and the user hears why.
        host_.warning("STR_ERROR_PriorityRefused");
        notify();
        return;
    }
    controls.priorityChecked = choice;
    settings_.app.priority = choice;
    notify();
}

CloseResult EncodeDlg::closeWindow() {
    if (busy() || ripping_ || !idle_) {
        host_.warning("STR_ERROR_28");
        return CloseResult::Ripping;
    }
    if (engines_.source && engines_.source->isOpen()) engines_.source->closeDecoder();
    if (current_ >= 0) {
        settings_.input = items_[size_t(current_)]->input;
        settings_.output = items_[size_t(current_)]->output;
    }
    return settings_.SaveSettings() ? CloseResult::Closed : CloseResult::SaveFailed;
}

}  // namespace zembra

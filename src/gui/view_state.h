#pragma once
// A copy of what the main window shows, taken from the controller on the
// thread that changed it. The window draws only from such copies, so it never
// reads the controller while a rip runs on the worker thread.

#include <string>
#include <vector>

#include "app/encode_dlg.h"

namespace zembra::gui {

struct ViewState {
    std::vector<FileRow> rows;
    ChoiceList indexList, audioList, subtitleList, angleList, formatList, zoomList, splitList;
    std::string outputFolder;
    std::string ripButtonText;
    std::string monitorLine;
    int progress = 100;
    bool ripEnabled = false;
    bool removeEnabled = false;
    bool splitSettingEnabled = false;
    bool controlsEnabled = true;
    bool ripping = false;
    bool busy = false;
    bool decoderOpen = false;
    bool hasCurrentItem = false;
    int currentItem = -1;
    int priorityChecked = 0;
    // The display choices of the Crop menu.
    bool correct43 = false;
    bool showResolution = true;
    bool renderSource = false;
    bool customZoom = false;
    bool shutDown = false;  // switch the computer off when the rip is done
};

ViewState captureViewState(const EncodeDlg& dlg, const SettingsStore& settings);

}  // namespace zembra::gui

#include "gui/view_state.h"

#include "app/output_options.h"

namespace zembra::gui {

ViewState captureViewState(const EncodeDlg& dlg, const SettingsStore& settings) {
    ViewState s;
    s.rows = dlg.rows();
    s.indexList = dlg.indexList;
    s.audioList = dlg.audioList;
    s.subtitleList = dlg.subtitleList;
    s.angleList = dlg.angleList;
    s.formatList = dlg.formatList;
    s.zoomList = dlg.zoomList;
    s.splitList = dlg.splitList;
    s.outputFolder = dlg.outputFolder;
    s.ripButtonText = dlg.ripButtonText;
    s.monitorLine = dlg.monitorLine;
    s.progress = dlg.progress;
    s.ripEnabled = dlg.ripEnabled;
    s.removeEnabled = dlg.removeEnabled;
    s.splitSettingEnabled = dlg.splitSettingEnabled;
    s.controlsEnabled = dlg.controlsEnabled;
    s.ripping = dlg.ripping();
    s.busy = dlg.busy();
    s.decoderOpen = dlg.decoderOpen();
    s.hasCurrentItem = dlg.hasCurrentItem();
    s.currentItem = dlg.currentItem();
    s.priorityChecked = dlg.priorityChecked;
    const OutputSettings& out = settings.output;
    s.correct43 = out.correct43;
    s.showResolution = out.showResolution;
    s.renderSource = out.renderSource;
    s.customZoom = out.zoomMode == kZoomCustom;
    s.shutDown = settings.input.shutDown;
    return s;
}

}  // namespace zembra::gui

#pragma once
// The preference dialog: the Global tab and one second tab, "AVI Specific"
// when the output is AVI, else "MPEG Specific". It edits the settings records;
// OK writes them (the caller then hands them to the current row with
// EncodeDlg::settingsChanged()), Cancel leaves them as they were.
//
// Entry point for the main window:
//   bool PreferenceDialog::run(QWidget* parent, UiHost& host, SettingsStore& settings,
//                              EngineSet& engines, int tab);
// tab 0 opens on Global ("Setting..."), 1 on the second tab ("Configure...").
// True when the user pressed OK.

#include <QDialog>

#include "app/settings_store.h"

class QTabWidget;

namespace zembra {
class EngineSet;
class UiHost;
}  // namespace zembra

namespace zembra::gui {

class AviTab;
class GlobalTab;
class MpegTab;

class PreferenceDialog : public QDialog {
    Q_OBJECT
public:
    enum Tab { kGlobalTab = 0, kFormatTab = 1 };

    PreferenceDialog(QWidget* parent, UiHost& host, SettingsStore& settings, EngineSet& engines,
                     int tab);
    static bool run(QWidget* parent, UiHost& host, SettingsStore& settings, EngineSet& engines,
                    int tab);

    QTabWidget* tabs() const { return tabs_; }
    GlobalTab* globalTab() const { return global_; }
    MpegTab* mpegTab() const { return mpeg_; }
    AviTab* aviTab() const { return avi_; }

    // OK: every tab through its model into the records.
    void accept() override;

private:
    void chooseAc3File();

    UiHost& host_;
    SettingsStore& settings_;
    QTabWidget* tabs_;
    GlobalTab* global_;
    MpegTab* mpeg_ = nullptr;
    AviTab* avi_ = nullptr;
};

}  // namespace zembra::gui

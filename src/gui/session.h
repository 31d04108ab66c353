#pragma once
// One run of the window, built in the order the program starts: the
// application (program folder, language, texts), its settings, the engines,
// the controller and the main window. main() and the tests both use it, so the
// tests drive the window exactly as a user's start builds it.

#include <QString>
#include <memory>
#include <string>

#include "app/source_kind.h"

namespace zembra {
class CZembraApp;
class EncodeDlg;
class EngineSet;
}  // namespace zembra

namespace zembra::gui {

class MainWindow;
class QtHost;
class QtMainView;
class UiChannel;
class WindowMemory;

class Session {
public:
    // programDir: the program folder (by default that of the executable);
    // windowMemory: the file of the window's remembered size, columns and
    // folders (by default ~/.config/zembra/window.conf).
    explicit Session(const std::string& programDir = {}, const QString& windowMemory = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens a source with the command its kind takes (sourceKindOf): Open
    // DVD, Open IFO or Open VOB, as the command line's rip does.
    void openSource(SourceKind kind, const std::string& path);
    // The application's end: the language choice and texts written back.
    // Runs once (also from the destructor).
    void exit();

    CZembraApp& app() { return *app_; }
    EngineSet& engines() { return *engines_; }
    EncodeDlg& controller() { return *dlg_; }
    QtHost& host() { return *host_; }
    QtMainView& view() { return *view_; }
    MainWindow& window() { return *window_; }

private:
    std::unique_ptr<CZembraApp> app_;
    std::unique_ptr<WindowMemory> memory_;
    std::unique_ptr<UiChannel> channel_;
    std::unique_ptr<QtHost> host_;
    std::unique_ptr<EngineSet> engines_;
    std::unique_ptr<QtMainView> view_;
    std::unique_ptr<EncodeDlg> dlg_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace zembra::gui

#pragma once
// MainView for the window: Qt's file and folder choosers, and the
// controller's reports (state changes, preview pictures, the logo) handed to
// the window through the UiChannel, whatever thread they come from.

#include <atomic>
#include <functional>

#include "app/main_view.h"
#include "gui/ui_channel.h"

class QWidget;

namespace zembra {
class EncodeDlg;
class UiHost;
}  // namespace zembra

namespace zembra::gui {

class WindowMemory;

class QtMainView : public MainView {
public:
    using FolderChooser = std::function<std::optional<std::string>(const std::string& title)>;
    using FilesChooser = std::function<std::vector<std::string>(
        const std::string& title, const std::string& filter, const std::string& extension)>;

    QtMainView(UiChannel& channel, const UiHost& host);

    // The controller this view shows (it is built after the view).
    void setController(const EncodeDlg* dlg) { dlg_ = dlg; }
    void setOwner(QWidget* owner) { owner_ = owner; }
    // Where each chooser starts: the folder it was last pointed at.
    void setMemory(WindowMemory* memory) { memory_ = memory; }
    // Tests and scripts answer the choosers themselves.
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void setFilesChooser(FilesChooser chooser) { filesChooser_ = std::move(chooser); }
    // While the rip's worker runs, the controller belongs to it: a report
    // made on the window's thread then is not read from the controller.
    void setWorkerRunning(bool running) { workerRunning_ = running; }

    std::optional<std::string> chooseFolder(const std::string& title) override;
    std::vector<std::string> chooseFiles(const std::string& title, const std::string& filter,
                                         const std::string& defaultExtension) override;
    void refresh() override;
    void drawPreview(const PreviewFrame& frame) override;
    void showLogo() override;

private:
    int folderKind(const std::string& title) const;
    int filesKind(const std::string& extension) const;

    UiChannel& channel_;
    const UiHost& host_;
    const EncodeDlg* dlg_ = nullptr;
    QWidget* owner_ = nullptr;
    WindowMemory* memory_ = nullptr;
    FolderChooser folderChooser_;
    FilesChooser filesChooser_;
    std::atomic<bool> workerRunning_{false};
};

}  // namespace zembra::gui

#include "gui/qt_main_view.h"

#include <QFileDialog>

#include "app/encode_dlg.h"
#include "gui/desktop/window_memory.h"
#include "gui/qt_text.h"
#include "platform/paths.h"
#include "platform/ui_host.h"

namespace zembra::gui {

QtMainView::QtMainView(UiChannel& channel, const UiHost& host) : channel_(channel), host_(host) {}

// The controller names its choosers only by title and default extension.
int QtMainView::folderKind(const std::string& title) const {
    return int(title == host_.text("STR_ERROR_201") ? WindowMemory::Folder::Output
                                                    : WindowMemory::Folder::Dvd);
}

int QtMainView::filesKind(const std::string& extension) const {
    return int(equalsNoCase(extension, ".IFO") ? WindowMemory::Folder::Ifo
                                               : WindowMemory::Folder::Vob);
}

std::optional<std::string> QtMainView::chooseFolder(const std::string& title) {
    if (folderChooser_) return folderChooser_(title);
    const auto kind = WindowMemory::Folder(folderKind(title));
    const QString start = memory_ ? memory_->lastFolder(kind) : QString();
    const QString folder = QFileDialog::getExistingDirectory(owner_, qtText(title), start);
    if (folder.isEmpty()) return std::nullopt;
    if (memory_) memory_->setLastFolder(kind, folder);
    return stdText(folder);
}

std::vector<std::string> QtMainView::chooseFiles(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& defaultExtension) {
    if (filesChooser_) return filesChooser_(title, filter, defaultExtension);
    const auto kind = WindowMemory::Folder(filesKind(defaultExtension));
    const QString start = memory_ ? memory_->lastFolder(kind) : QString();
    QFileDialog dialog(owner_, qtText(title), start, qtFileFilter(filter));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QString suffix = qtText(defaultExtension);
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    std::vector<std::string> files;
    if (dialog.exec() != QDialog::Accepted) return files;
    for (const QString& f : dialog.selectedFiles()) files.push_back(stdText(f));
    if (memory_ && !files.empty()) memory_->setLastFolder(kind, qtText(files.front()));
    return files;
}

void QtMainView::refresh() {
    if (!dlg_) return;
    // The worker owns the controller; its own reports come from its thread.
    if (workerRunning_ && channel_.onGuiThread()) return;
    channel_.postState(dlg_->viewState());
}

void QtMainView::drawPreview(const PreviewFrame& frame) { channel_.postPreview(frame); }

void QtMainView::showLogo() { channel_.postLogo(); }

}  // namespace zembra::gui

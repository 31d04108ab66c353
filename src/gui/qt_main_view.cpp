#include "gui/qt_main_view.h"

#include <QFileDialog>

#include "app/encode_dlg.h"
#include "gui/qt_text.h"

namespace zembra::gui {

QtMainView::QtMainView(UiChannel& channel, const SettingsStore& settings)
    : channel_(channel), settings_(settings) {}

std::optional<std::string> QtMainView::chooseFolder(const std::string& title) {
    if (folderChooser_) return folderChooser_(title);
    const QString folder = QFileDialog::getExistingDirectory(owner_, qtText(title));
    if (folder.isEmpty()) return std::nullopt;
    return stdText(folder);
}

std::vector<std::string> QtMainView::chooseFiles(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& defaultExtension) {
    if (filesChooser_) return filesChooser_(title, filter, defaultExtension);
    QFileDialog dialog(owner_, qtText(title), QString(), qtFileFilter(filter));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QString suffix = qtText(defaultExtension);
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    std::vector<std::string> files;
    if (dialog.exec() != QDialog::Accepted) return files;
    for (const QString& f : dialog.selectedFiles()) files.push_back(stdText(f));
    return files;
}

void QtMainView::refresh() {
    if (!dlg_) return;
    // The worker owns the controller; its own reports come from its thread.
    if (workerRunning_ && channel_.onGuiThread()) return;
    channel_.postState(captureViewState(*dlg_, settings_));
}

void QtMainView::drawPreview(const PreviewFrame& frame) { channel_.postPreview(frame); }

void QtMainView::showLogo() { channel_.postLogo(); }

}  // namespace zembra::gui

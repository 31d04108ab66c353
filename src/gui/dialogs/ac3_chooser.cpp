#include "gui/dialogs/ac3_chooser.h"

#include <QFileDialog>
#include <QFileInfo>

#include "gui/dialogs/dialog_kit.h"
#include "gui/qt_text.h"

namespace zembra::gui {

std::optional<std::string> chooseAc3File(QWidget* parent, const UiHost& host,
                                         const std::string& current) {
    const QString file = qtText(current);
    const QFileInfo info(file);
    QFileDialog dialog(parent, formatText(tableText(host, "STR_PREFERENCE_DLG_AC3Title"), {file}));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("AC3"));
    dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return stdText(dialog.selectedFiles().constFirst());
}

}  // namespace zembra::gui

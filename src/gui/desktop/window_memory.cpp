#include "gui/desktop/window_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMainWindow>
#include <QSplitter>
#include <QStandardPaths>
#include <QWidget>
#include <algorithm>

namespace zembra::gui {

namespace {

// Far beyond any screen: a width read back larger than this is not one that
// was ever saved by the window.
constexpr int kWidestColumn = 20000;

QString folderKey(WindowMemory::Folder chooser) {
    switch (chooser) {
        case WindowMemory::Folder::Dvd:
            return QStringLiteral("Folders/Dvd");
        case WindowMemory::Folder::Ifo:
            return QStringLiteral("Folders/Ifo");
        case WindowMemory::Folder::Vob:
            return QStringLiteral("Folders/Vob");
        case WindowMemory::Folder::Output:
            return QStringLiteral("Folders/Output");
        case WindowMemory::Folder::DiscImage:
            return QStringLiteral("Folders/DiscImage");
    }
    return {};
}

}  // namespace

WindowMemory::WindowMemory(const QString& file)
    : settings_(file.isEmpty() ? defaultFile() : file, QSettings::IniFormat) {}

QString WindowMemory::defaultFile() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is to be ignored, as if it were unset.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/zembra/window.conf");
}

void WindowMemory::saveWindow(const QWidget& window, const QString& name) {
    settings_.setValue(name + QStringLiteral("/geometry"), window.saveGeometry());
    if (auto main = qobject_cast<const QMainWindow*>(&window))
        settings_.setValue(name + QStringLiteral("/state"), main->saveState());
}

bool WindowMemory::restoreWindow(QWidget& window, const QString& name) {
    QByteArray geometry = settings_.value(name + QStringLiteral("/geometry")).toByteArray();
    // restoreGeometry also moves a window saved on a screen that is gone
    // back onto one that is there.
    bool restored = !geometry.isEmpty() && window.restoreGeometry(geometry);
    if (auto main = qobject_cast<QMainWindow*>(&window)) {
        QByteArray state = settings_.value(name + QStringLiteral("/state")).toByteArray();
        if (!state.isEmpty()) restored = main->restoreState(state) || restored;
    }
    return restored;
}

void WindowMemory::saveColumns(const QHeaderView& header, const QString& name) {
    QVariantList widths;
    for (int i = 0; i < header.count(); ++i) widths.append(header.sectionSize(i));
    settings_.setValue(name + QStringLiteral("/columns"), widths);
}

bool WindowMemory::restoreColumns(QHeaderView& header, const QString& name) {
    QVariantList widths = settings_.value(name + QStringLiteral("/columns")).toList();
    const int count = std::min(int(widths.size()), header.count());
    bool restored = false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        int width = widths[i].toInt(&ok);
        if (!ok || width <= 0 || width > kWidestColumn) continue;
        header.resizeSection(i, std::max(width, header.minimumSectionSize()));
        restored = true;
    }
    return restored;
}

void WindowMemory::saveSplitter(const QSplitter& splitter, const QString& name) {
    settings_.setValue(name + QStringLiteral("/state"), splitter.saveState());
}

bool WindowMemory::restoreSplitter(QSplitter& splitter, const QString& name) {
    QByteArray state = settings_.value(name + QStringLiteral("/state")).toByteArray();
    return !state.isEmpty() && splitter.restoreState(state);
}

QString WindowMemory::lastFolder(Folder chooser) const {
    QString folder = settings_.value(folderKey(chooser)).toString();
    if (folder.isEmpty()) return {};
    folder = QDir::cleanPath(folder);
    while (!QFileInfo(folder).isDir()) {
        QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder) return {};
        folder = parent;
    }
    return folder;
}

void WindowMemory::setLastFolder(Folder chooser, const QString& chosenPath) {
    if (chosenPath.isEmpty()) return;
    QFileInfo info(chosenPath);
    QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    settings_.setValue(folderKey(chooser), QDir::cleanPath(folder));
}

bool WindowMemory::sync() {
    // QSettings creates the folder of its file itself.
    settings_.sync();
    return settings_.status() == QSettings::NoError;
}

}  // namespace zembra::gui

#pragma once
// What the window remembers between runs that is not a conversion setting:
// its size and place, the file list's column widths, splitter and tool bar
// layout, and the folder each chooser was last pointed at. It lives in a
// file of its own (<config>/zembra/window.conf) so that options.ini, which
// the command line shares, holds only the conversion settings.

#include <QSettings>
#include <QString>

class QHeaderView;
class QMainWindow;
class QSplitter;
class QWidget;

namespace zembra::gui {

class WindowMemory {
public:
    // The choosers whose folder is remembered.
    enum class Folder { Dvd, Ifo, Vob, Output, DiscImage };

    // `file` empty: defaultFile().
    explicit WindowMemory(const QString& file = QString());

    // $XDG_CONFIG_HOME/zembra/window.conf (~/.config/zembra/window.conf).
    static QString defaultFile();
    QString fileName() const { return settings_.fileName(); }

    // Size, place and maximised state; for a main window also its tool bars
    // and docks. Restoring returns false when nothing was stored, leaving the
    // widget as it is (the caller's default size stands).
    void saveWindow(const QWidget& window, const QString& name = QStringLiteral("MainWindow"));
    bool restoreWindow(QWidget& window, const QString& name = QStringLiteral("MainWindow"));

    // Column widths of a list's header. Widths are restored for the columns
    // the header has, never below its minimum, so a column cannot vanish.
    void saveColumns(const QHeaderView& header, const QString& name = QStringLiteral("FileList"));
    bool restoreColumns(QHeaderView& header, const QString& name = QStringLiteral("FileList"));

    void saveSplitter(const QSplitter& splitter, const QString& name = QStringLiteral("Splitter"));
    bool restoreSplitter(QSplitter& splitter, const QString& name = QStringLiteral("Splitter"));

    // The folder to start a chooser in: the one last chosen, or, when that
    // is gone (an unplugged stick), the nearest folder above it that still
    // exists; empty when nothing was stored.
    QString lastFolder(Folder chooser) const;
    // A chosen file stands for its folder.
    void setLastFolder(Folder chooser, const QString& chosenPath);

    // Writes what was saved to the file now (QSettings also writes on its
    // own later and when destroyed). False when the file cannot be written.
    bool sync();

private:
    QSettings settings_;
};

}  // namespace zembra::gui

#pragma once
// Sources handed to the window from outside: files and folders dragged onto
// it, and the paths on its command line (a desktop file's %F). Each comes
// with the Open command that takes it.

#include <QStringList>
#include <string>
#include <vector>

#include "app/source_kind.h"

class QMimeData;

namespace zembra::gui {

struct SourcePath {
    SourceKind kind;
    std::string path;  // absolute, in the file system's own encoding
};

// The local files and folders of a drag, in the order dragged; remote
// addresses are left out. Empty when nothing can be opened, so the window
// refuses the drop.
std::vector<SourcePath> droppedSources(const QMimeData* mime);

// Command-line arguments: plain paths (relative ones against the current
// folder) and file:// addresses. Options ("-..."), empty arguments and
// remote addresses are skipped.
std::vector<SourcePath> argumentSources(const QStringList& arguments);

}  // namespace zembra::gui

#include "gui/desktop/dropped_sources.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace zembra::gui {

namespace {

SourcePath sourceOf(const QString& localPath) {
    // cleanPath drops a trailing '/', which a file manager adds to folders.
    std::string path =
        QFile::encodeName(QDir::cleanPath(QDir().absoluteFilePath(localPath))).toStdString();
    return {sourceKindOf(path), path};
}

}  // namespace

std::vector<SourcePath> droppedSources(const QMimeData* mime) {
    std::vector<SourcePath> sources;
    if (!mime || !mime->hasUrls()) return sources;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            sources.push_back(sourceOf(url.toLocalFile()));
    return sources;
}

std::vector<SourcePath> argumentSources(const QStringList& arguments) {
    std::vector<SourcePath> sources;
    for (const QString& argument : arguments) {
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) continue;
        if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            QUrl url(argument);
            if (url.isLocalFile() && !url.toLocalFile().isEmpty())
                sources.push_back(sourceOf(url.toLocalFile()));
        } else if (!argument.contains(QLatin1String("://"))) {
            sources.push_back(sourceOf(argument));
        }
    }
    return sources;
}

}  // namespace zembra::gui

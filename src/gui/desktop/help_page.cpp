#include "gui/desktop/help_page.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "gui/desktop/qt_translations.h"

#ifndef ZEMBRA_README
#define ZEMBRA_README ""
#endif

namespace zembra::gui {

namespace {

bool isFile(const QString& path) { return QFileInfo(path).isFile(); }

}  // namespace

QString findHelpPage(const QString& programDir, const QString& languageFile,
                     const QString& readme) {
    const QDir program(programDir);
    const QString code = languageCode(languageFile);
    for (const QString& folder : {program.filePath(QStringLiteral("share/help")),
                                  program.filePath(QStringLiteral("../share/zembra/help"))}) {
        if (!code.isEmpty()) {
            QString page = QDir::cleanPath(folder + QStringLiteral("/index.") + code +
                                           QStringLiteral(".html"));
            if (isFile(page)) return page;
        }
        QString page = QDir::cleanPath(folder + QStringLiteral("/index.html"));
        if (isFile(page)) return page;
    }
    const QString fallback = readme.isEmpty() ? QString::fromUtf8(ZEMBRA_README) : readme;
    return !fallback.isEmpty() && isFile(fallback) ? fallback : QString();
}

bool openHelpPage(const QString& programDir, const QString& languageFile) {
    const QString page = findHelpPage(programDir, languageFile);
    return !page.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

}  // namespace zembra::gui

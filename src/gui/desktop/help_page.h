#pragma once
// "Help Content": an HTML page shown in the desktop's browser. The build
// copies share/ beside the program, an installed copy keeps it in
// <prefix>/share/zembra; a program without either falls back to the
// README of the source tree it was built from.

#include <QString>

namespace zembra::gui {

// The page for a language file: share/help/index.<code>.html when there is
// one for its language (index.de.html for Deutsch.ini), else
// share/help/index.html, looked for beside the program and then in
// <program>/../share/zembra; else `readme` when it exists; else empty.
// `readme` empty: the README.md of the source tree.
QString findHelpPage(const QString& programDir, const QString& languageFile,
                     const QString& readme = QString());

// Finds the page and hands it to the desktop. False when there is none or
// no program would open it (the caller tells the user).
bool openHelpPage(const QString& programDir, const QString& languageFile);

}  // namespace zembra::gui

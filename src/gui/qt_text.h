#pragma once
// Texts between the string table (UTF-8, line breaks as CR LF) and Qt.

#include <QString>
#include <string>

namespace zembra::gui {

// A string-table text for a Qt widget: CR LF (and a lone CR) become LF.
QString qtText(const std::string& text);
// A text typed into a widget, as the controller keeps it (UTF-8).
std::string stdText(const QString& text);

// A chooser's filter as the string table holds it ("desc|pat;pat|desc|pat|")
// turned into Qt's (one "desc (pat pat)" per pair, joined by ";;"). A
// description that already ends in exactly its patterns is kept as it is.
QString qtFileFilter(const std::string& filter);

}  // namespace zembra::gui

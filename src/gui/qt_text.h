#pragma once
// Texts between the string table (UTF-8, line breaks as CR LF) and Qt.

#include <QString>
#include <string>

namespace zembra::gui {

// A string-table text for a Qt widget: CR LF (and a lone CR) become LF.
QString qtText(const std::string& text);
// A text typed into a widget, as the controller keeps it (UTF-8).
std::string stdText(const QString& text);

}  // namespace zembra::gui

#pragma once
// Filling a number into a text of the string table. Language files are
// plain text anyone can edit, so they are never used as printf formats:
// only the first "%d" is replaced, anything else in the text stays as it is.

#include <QString>

namespace zembra::gui {

QString withNumber(QString text, int number);

}  // namespace zembra::gui

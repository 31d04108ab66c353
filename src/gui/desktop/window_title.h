#pragma once
// The window title that carries the rip's progress, so that it shows in the
// task bar and the window switcher while the window is hidden.

#include <QString>

namespace zembra::gui {

// "42% - Zembra" while `busy` (the percentage held within 0..100), else the
// plain title.
QString progressWindowTitle(const QString& plainTitle, int percent, bool busy);

}  // namespace zembra::gui

#include "gui/desktop/window_title.h"

#include <algorithm>

namespace zembra::gui {

QString progressWindowTitle(const QString& plainTitle, int percent, bool busy) {
    if (!busy) return plainTitle;
    return QStringLiteral("%1% - %2").arg(std::clamp(percent, 0, 100)).arg(plainTitle);
}

}  // namespace zembra::gui

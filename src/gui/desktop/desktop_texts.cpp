#include "gui/desktop/desktop_texts.h"

namespace zembra::gui {

QString withNumber(QString text, int number) {
    const qsizetype at = text.indexOf(QLatin1String("%d"));
    if (at >= 0) text.replace(at, 2, QString::number(number));
    return text;
}

}  // namespace zembra::gui

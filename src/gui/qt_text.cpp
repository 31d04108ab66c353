#include "gui/qt_text.h"

namespace zembra::gui {

QString qtText(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), qsizetype(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

std::string stdText(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace zembra::gui

#include "gui/qt_text.h"

#include <QStringList>

namespace zembra::gui {

QString qtText(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), qsizetype(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

std::string stdText(const QString& text) { return text.toUtf8().toStdString(); }

namespace {

QString filterEntry(QString description, const QString& patternText) {
    QStringList patterns;
    for (const QString& p : patternText.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = p.trimmed();
        if (!trimmed.isEmpty() && !patterns.contains(trimmed)) patterns << trimmed;
    }
    description = description.trimmed();
    if (patterns.isEmpty()) return description;
    const QString group = QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    // Qt takes the patterns from the last parenthesised group of the entry.
    if (description.endsWith(group, Qt::CaseInsensitive)) return description;
    if (description.isEmpty()) return group;
    return description + QLatin1Char(' ') + group;
}

}  // namespace

QString qtFileFilter(const std::string& filter) {
    const QStringList parts = qtText(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].trimmed().isEmpty() && parts[i + 1].trimmed().isEmpty()) continue;
        entries << filterEntry(parts[i], parts[i + 1]);
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace zembra::gui

#include "gui/desktop/disc_sources.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <algorithm>

#include "app/source_kind.h"
#include "gui/qt_text.h"
#include "platform/string_table.h"

namespace zembra::gui {

namespace {

QString firstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readLine(256)).simplified();
}

}  // namespace

QString discImageNameFilter(const StringTable& strings) {
    QStringList patterns;
    for (std::string_view ext : discImageExtensions()) {
        const QString lower = QString::fromLatin1(ext.data(), qsizetype(ext.size()));
        patterns << QLatin1Char('*') + lower << QLatin1Char('*') + lower.toUpper();
    }
    return qtText(strings.text("STR_DESKTOP_DiscImageFilter")) + QStringLiteral(" (") +
           patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QList<OpticalDrive> opticalDrives(const QString& sysRoot, const QString& devRoot) {
    QStringList names = QDir(sysRoot + QStringLiteral("/block"))
                            .entryList({QStringLiteral("sr*")}, QDir::AllEntries | QDir::System);
    // sr2 before sr10 (a collator's numeric mode needs ICU, which Qt may lack).
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.mid(2).toInt() < b.mid(2).toInt();
    });
    QList<OpticalDrive> drives;
    for (const QString& name : names) {
        const QString block = sysRoot + QStringLiteral("/block/") + name;
        QString model = (firstLine(block + QStringLiteral("/device/vendor")) + QLatin1Char(' ') +
                         firstLine(block + QStringLiteral("/device/model")))
                            .simplified();
        // Size in 512-byte sectors; 0 while the tray is empty.
        const bool hasDisc = firstLine(block + QStringLiteral("/size")).toLongLong() > 0;
        drives.append({devRoot + QLatin1Char('/') + name, model.isEmpty() ? name : model, hasDisc});
    }
    return drives;
}

}  // namespace zembra::gui

#include "gui/desktop/desktop_notifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "gui/desktop/desktop_texts.h"
#include "gui/qt_text.h"
#include "platform/string_table.h"

namespace zembra::gui {

DesktopNotifier::DesktopNotifier(QDBusConnection bus) : bus_(std::move(bus)) {}

QString DesktopNotifier::summaryText(const StringTable& strings, bool cancelled) {
    return qtText(
        strings.text(cancelled ? "STR_DESKTOP_NotifyRipCancelled" : "STR_DESKTOP_NotifyRipDone"));
}

QString DesktopNotifier::bodyText(const StringTable& strings, int titlesRipped) {
    if (titlesRipped == 1) return qtText(strings.text("STR_DESKTOP_NotifyOneTitle"));
    return withNumber(qtText(strings.text("STR_DESKTOP_NotifyTitles")), titlesRipped);
}

bool DesktopNotifier::ripEnded(const StringTable& strings, int titlesRipped, bool cancelled) {
    if (!bus_.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    // Lets the desktop group it under the program's launcher and icon.
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zembra"));
    call << QStringLiteral("Zembra") << 0u << QStringLiteral("zembra")
         << summaryText(strings, cancelled) << bodyText(strings, titlesRipped) << QStringList()
         << hints << -1;
    // Not waited for: the answer (an id, or an error when no service runs)
    // is of no use here.
    call.setAutoStartService(true);
    return bus_.send(call);
}

}  // namespace zembra::gui

#pragma once
// A desktop notification when a rip ends, for the user who went on with
// something else: org.freedesktop.Notifications on the session bus. Without
// a bus or a notification service nothing is shown and nothing complains.

#include <QDBusConnection>
#include <QString>

namespace zembra {
class StringTable;
}

namespace zembra::gui {

class DesktopNotifier {
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

    // Sends "Rip finished" (or "Rip cancelled") with the number of titles
    // ripped. Returns at once; false when there is no bus to send it on.
    bool ripEnded(const StringTable& strings, int titlesRipped, bool cancelled);

    // The two lines of that notification.
    static QString summaryText(const StringTable& strings, bool cancelled);
    static QString bodyText(const StringTable& strings, int titlesRipped);

private:
    QDBusConnection bus_;
};

}  // namespace zembra::gui

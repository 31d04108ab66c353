#pragma once
// The rip's progress on the program's launcher in the task bar or dock
// (KDE Plasma, Ubuntu's dock and others listen for it): the Unity launcher
// entry signal on the session bus, sent only when the percentage changes.
// Without a session bus nothing is sent.

#include <QDBusConnection>

namespace zembra::gui {

class LauncherProgress {
public:
    explicit LauncherProgress(QDBusConnection bus = QDBusConnection::sessionBus());
    ~LauncherProgress();  // takes the bar off the launcher

    // While busy: the bar at `percent` (0..100). Idle: no bar.
    void show(int percent, bool busy);

private:
    void send(int percent, bool visible);

    QDBusConnection bus_;
    int shown_ = -1;  // percentage on the launcher, -1 for none
};

}  // namespace zembra::gui

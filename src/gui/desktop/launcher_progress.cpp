#include "gui/desktop/launcher_progress.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>

namespace zembra::gui {

LauncherProgress::LauncherProgress(QDBusConnection bus) : bus_(std::move(bus)) {}

LauncherProgress::~LauncherProgress() { show(0, false); }

void LauncherProgress::show(int percent, bool busy) {
    const int wanted = busy ? std::clamp(percent, 0, 100) : -1;
    if (wanted == shown_) return;
    shown_ = wanted;
    send(std::max(wanted, 0), busy);
}

void LauncherProgress::send(int percent, bool visible) {
    if (!bus_.isConnected()) return;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/org/zembra/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), percent / 100.0);
    properties.insert(QStringLiteral("progress-visible"), visible);
    // The launcher is found by the desktop file's name.
    update << QStringLiteral("application://zembra.desktop") << properties;
    bus_.send(update);
}

}  // namespace zembra::gui

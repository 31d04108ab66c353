#include "gui/desktop/suspend_inhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace zembra::gui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

SuspendInhibitor::SuspendInhibitor(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

SuspendInhibitor::~SuspendInhibitor() { release(); }

void SuspendInhibitor::acquire(const QString& reason) {
    wanted_ = true;
    if (held() || asking_) return;
    // The lock comes as a descriptor; a bus that cannot pass one cannot lend it.
    if (!bus_.isConnected() ||
        !(bus_.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Zembra") << reason
         << QStringLiteral("block");
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &SuspendInhibitor::onReply);
}

void SuspendInhibitor::onReply(QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    asking_ = false;
    QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
    // No logind, or it refused: the rip goes on without the lock.
    if (reply.isError() || !wanted_) return;
    lock_ = reply.value();
    if (held()) emit acquired();
}

void SuspendInhibitor::release() {
    wanted_ = false;
    // Our copy of the descriptor is the last one: closing it ends the lock.
    lock_ = QDBusUnixFileDescriptor();
}

}  // namespace zembra::gui

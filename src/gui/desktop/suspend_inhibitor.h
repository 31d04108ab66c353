#pragma once
// Keeps the computer from sleeping while a rip runs: logind's inhibitor
// lock ("sleep:idle", mode "block") is held as a file descriptor, and the
// lock ends when that descriptor is closed. Without a system bus or logind
// (containers, other init systems) it does nothing and says nothing: a rip
// must never fail for want of it.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace zembra::gui {

class SuspendInhibitor : public QObject {
    Q_OBJECT
public:
    explicit SuspendInhibitor(QDBusConnection bus = QDBusConnection::systemBus(),
                              QObject* parent = nullptr);
    ~SuspendInhibitor() override;  // releases the lock

    // Asks logind for the lock, with `reason` shown by the desktop beside
    // "Zembra". Returns at once: the lock is held when logind answers, so a
    // slow bus never stalls the window. A second call while held or asked
    // changes nothing.
    void acquire(const QString& reason);
    // Gives the lock back (also one still on its way from logind).
    void release();
    bool held() const { return lock_.isValid(); }

signals:
    // The lock arrived from logind (for a caller or test that waits for it).
    void acquired();

private:
    void onReply(QDBusPendingCallWatcher* watcher);

    QDBusConnection bus_;
    QDBusUnixFileDescriptor lock_;
    bool wanted_ = false;
    bool asking_ = false;
};

}  // namespace zembra::gui

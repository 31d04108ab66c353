#include "gui/stop_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace zembra::gui {

namespace {

int sockets[2] = {-1, -1};  // [0] written by the handler, [1] read by the loop
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

void onSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    // Nothing else is safe here; a full socket drops a repeated signal.
    [[maybe_unused]] const ssize_t written = ::write(sockets[0], &number, 1);
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return;
    ::fcntl(sockets[0], F_SETFL, O_NONBLOCK);
    notifier_ = new QSocketNotifier(sockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals() {
    for (int signal : kSignals) std::signal(signal, SIG_DFL);
    for (int& s : sockets) {
        if (s >= 0) ::close(s);
        s = -1;
    }
}

void StopSignals::readSignal() {
    unsigned char number = 0;
    if (::read(sockets[1], &number, 1) == 1) emit stopRequested(number);
}

}  // namespace zembra::gui

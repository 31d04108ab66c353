#pragma once
// SIGTERM, SIGHUP and SIGINT as the window hears them: a logout, a closed
// terminal or Ctrl-C in it. The handler only writes the signal's number to a
// socket; the event loop reads it and emits `stopRequested`, where the window
// can end a running rip cleanly before the program quits.

#include <QObject>

class QSocketNotifier;

namespace zembra::gui {

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signal);

private:
    void readSignal();
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zembra::gui

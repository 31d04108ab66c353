// zembra-gui: the main window over the same controller as the command line.
//   zembra-gui [SOURCE...]   opens each source as "zembra rip" does
// With ZEMBRA_GUI_SCREENSHOTS=FOLDER set, the window saves pictures of itself
// and of each dialog into FOLDER and quits (tools/screenshots.sh); the exit
// status is 1 when one of them could not be made.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "gui/desktop/desktop_application.h"
#include "gui/desktop/dropped_sources.h"
#include "gui/main_window.h"
#include "gui/screenshots.h"
#include "gui/session.h"
#include "gui/stop_signals.h"

int main(int argc, char** argv) {
    zembra::gui::prepareHighDpi();
    QApplication application(argc, argv);
    zembra::gui::introduceToDesktop(application);
    zembra::gui::Session session;
    session.window().show();
    session.window().openSources(zembra::gui::argumentSources(QApplication::arguments().mid(1)));

    const QString shots = qEnvironmentVariable("ZEMBRA_GUI_SCREENSHOTS");
    if (!shots.isEmpty())
        QTimer::singleShot(300, [&] {
            const QStringList failed = zembra::gui::saveScreenshots(session, shots);
            for (const QString& name : failed)
                std::fprintf(stderr, "zembra-gui: no picture of %s\n", qPrintable(name));
            QApplication::exit(failed.isEmpty() ? 0 : 1);
        });
    // A logout, a closed terminal or Ctrl-C in it: the rip running is ended
    // as a forced end does, with its file whole, and the program quits with
    // 128 + the signal's number, as zembra does.
    zembra::gui::StopSignals stopSignals;
    QObject::connect(&stopSignals, &zembra::gui::StopSignals::stopRequested, [&](int signal) {
        session.window().stopWork();
        QApplication::exit(128 + signal);
    });
    const int result = QApplication::exec();
    session.exit();
    return result;
}

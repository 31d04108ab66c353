// zembra-gui: the main window over the same controller as the command line.
//   zembra-gui [SOURCE...]   opens each source as "zembra rip" does
// With ZEMBRA_GUI_SCREENSHOTS=FOLDER set, the window saves pictures of itself
// and of each dialog into FOLDER and quits (tools/screenshots.sh); the exit
// status is 1 when one of them could not be made.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "gui/main_window.h"
#include "gui/screenshots.h"
#include "gui/session.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zembra"));
    zembra::gui::Session session;
    session.window().show();
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        session.openSource(arguments[i].toUtf8().toStdString());

    const QString shots = qEnvironmentVariable("ZEMBRA_GUI_SCREENSHOTS");
    if (!shots.isEmpty())
        QTimer::singleShot(300, [&] {
            const QStringList failed = zembra::gui::saveScreenshots(session, shots);
            for (const QString& name : failed)
                std::fprintf(stderr, "zembra-gui: no picture of %s\n", qPrintable(name));
            QApplication::exit(failed.isEmpty() ? 0 : 1);
        });
    const int result = QApplication::exec();
    session.exit();
    return result;
}

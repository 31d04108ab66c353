#include "gui/desktop/desktop_application.h"

#include <QApplication>

#include "gui/desktop/app_icon.h"

namespace zembra::gui {

void prepareHighDpi() {
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void introduceToDesktop(QApplication& app) {
    app.setApplicationName(QStringLiteral("zembra-gui"));
    // The name of share/applications/zembra.desktop, without ".desktop".
    QGuiApplication::setDesktopFileName(QStringLiteral("zembra"));
    app.setWindowIcon(appIcon());
}

}  // namespace zembra::gui

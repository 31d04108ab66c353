#include "gui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <functional>
#include <memory>

#include "app/application.h"
#include "app/encode_dlg.h"
#include "app/output_options.h"
#include "gui/dialogs/about_dialog.h"
#include "gui/dialogs/crop_dialog.h"
#include "gui/dialogs/lame_dialog.h"
#include "gui/dialogs/preference_dialog.h"
#include "gui/dialogs/properties_dialog.h"
#include "gui/dialogs/size_dialog.h"
#include "gui/main_window.h"
#include "gui/preview_widget.h"
#include "gui/qt_host.h"
#include "gui/session.h"

namespace zembra::gui {

namespace {

// Lets the widget lay itself out and paint before it is grabbed.
void settle() {
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
}

bool grabInto(QWidget& widget, const QString& file) {
    widget.show();
    widget.raise();
    settle();
    const bool saved = widget.grab().save(file, "PNG");
    widget.hide();
    return saved;
}

// What the dialogs edit: copies, so that the window's own records stay as
// they are (the dialogs are closed without OK anyway).
struct Copies {
    SettingsStore settings;
    InputSettings input;
    OutputSettings output;
    ApplicationSettings app;
};

using DialogMaker = std::function<std::unique_ptr<QWidget>(Session&, Copies&)>;

struct Shot {
    const char* name;
    DialogMaker make;
};

std::vector<Shot> dialogShots() {
    auto preference = [](int tab, bool avi) -> DialogMaker {
        return [tab, avi](Session& s, Copies& c) -> std::unique_ptr<QWidget> {
            // The second tab follows the format.
            c.settings = s.app().settings();
            if (avi) {
                c.settings.output.mpegStream = 2;
                c.settings.output.formatIndex = kFormatAvi;
            }
            return std::make_unique<PreferenceDialog>(&s.window(), s.host(), c.settings,
                                                      s.engines(), tab);
        };
    };
    return {
        {"preference-global", preference(PreferenceDialog::kGlobalTab, false)},
        {"preference-mpeg", preference(PreferenceDialog::kFormatTab, false)},
        {"preference-avi", preference(PreferenceDialog::kFormatTab, true)},
        {"properties",
         [](Session& s, Copies& c) -> std::unique_ptr<QWidget> {
             const DVDProjectItem* item = s.controller().item(0);
             if (!item) return nullptr;
             c.input = item->input;
             c.output = item->output;
             return std::make_unique<PropertiesDialog>(&s.window(), s.host(), c.input, c.output);
         }},
        {"crop",
         [](Session& s, Copies& c) -> std::unique_ptr<QWidget> {
             // The Custom zoom's source view holds the frame the crop is drawn on.
             s.controller().chooseZoom(kZoomCustom);
             c.output = s.app().settings().output;
             const InputSettings& in = s.app().settings().input;
             return std::make_unique<CropDialog>(&s.window(), s.host(), c.output, in.sourceWidth,
                                                 in.sourceHeight, s.window().sourceFrame());
         }},
        {"size",
         [](Session& s, Copies& c) -> std::unique_ptr<QWidget> {
             c.output = s.app().settings().output;
             return std::make_unique<SizeDialog>(&s.window(), s.host(), c.output);
         }},
        {"mp3",
         [](Session& s, Copies& c) -> std::unique_ptr<QWidget> {
             c.app = s.app().settings().app;
             return std::make_unique<LameDialog>(&s.window(), s.host(), c.app);
         }},
        {"about",
         [](Session& s, Copies&) -> std::unique_ptr<QWidget> {
             return std::make_unique<AboutDialog>(&s.window(), s.host());
         }},
    };
}

}  // namespace

QStringList screenshotNames() {
    QStringList names{QStringLiteral("main-window")};
    for (const Shot& shot : dialogShots()) names << QLatin1String(shot.name);
    return names;
}

QStringList saveScreenshots(Session& session, const QString& folder) {
    QDir().mkpath(folder);
    QStringList failed;
    // The sources named on the command line are opened beside the window.
    while (session.window().jobRunning()) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
    settle();
    if (!session.window().grab().save(folder + QStringLiteral("/main-window.png"), "PNG"))
        failed << QStringLiteral("main-window");
    Copies copies;
    for (const Shot& shot : dialogShots()) {
        std::unique_ptr<QWidget> dialog = shot.make(session, copies);
        if (!dialog || !grabInto(*dialog, folder + QLatin1Char('/') + shot.name + ".png"))
            failed << QLatin1String(shot.name);
    }
    return failed;
}

}  // namespace zembra::gui

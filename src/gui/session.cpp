#include "gui/session.h"

#include "app/application.h"
#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "gui/desktop/window_memory.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "gui/qt_main_view.h"
#include "gui/ui_channel.h"

namespace zembra::gui {

Session::Session(const std::string& programDir, const QString& windowMemory)
    : app_(std::make_unique<CZembraApp>(programDir)),
      memory_(std::make_unique<WindowMemory>(windowMemory)) {
    app_->InitInstance();
    app_->loadSettings();
    channel_ = std::make_unique<UiChannel>();
    host_ = std::make_unique<QtHost>(&app_->strings(), *channel_);
    engines_ = std::make_unique<EngineSet>(*host_, app_->settings());
    view_ = std::make_unique<QtMainView>(*channel_, *host_);
    dlg_ = std::make_unique<EncodeDlg>(*host_, app_->settings(), engines_->catalogue(),
                                       engines_->ripEngines(), view_.get());
    view_->setController(dlg_.get());
    view_->setMemory(memory_.get());
    window_ =
        std::make_unique<MainWindow>(*app_, *engines_, *dlg_, *host_, *view_, *channel_, *memory_);
}

Session::~Session() {
    window_.reset();
    exit();
}

void Session::openSource(SourceKind kind, const std::string& path) {
    window_->openSource(kind, path);
}

void Session::exit() { app_->ExitInstance(); }

}  // namespace zembra::gui

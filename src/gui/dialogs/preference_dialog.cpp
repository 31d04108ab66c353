#include "gui/dialogs/preference_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/engines/engine_set.h"
#include "gui/dialogs/ac3_chooser.h"
#include "gui/dialogs/avi_tab.h"
#include "gui/dialogs/dialog_kit.h"
#include "gui/dialogs/preference_tabs.h"

namespace zembra::gui {

PreferenceDialog::PreferenceDialog(QWidget* parent, UiHost& host, SettingsStore& settings,
                                   EngineSet& engines, int tab)
    : QDialog(parent), host_(host), settings_(settings) {
    setWindowTitle(tableText(host, "STR_PREFERENCE_TITLE"));
    tabs_ = new QTabWidget;
    global_ = new GlobalTab(host, settings.input);
    tabs_->addTab(global_, tableText(host, "STR_PREFERENCE_TAB_GLOBAL"));
    if (settings.output.mpegStream >= 2) {
        avi_ = new AviTab(host, settings, engines.aviWriter());
        tabs_->addTab(avi_, tableText(host, "STR_PREFERENCE_TAB_AVI"));
    } else {
        mpeg_ = new MpegTab(host, settings.output, settings.app);
        tabs_->addTab(mpeg_, tableText(host, "STR_PREFERENCE_TAB_MPEG"));
    }
    tabs_->setCurrentIndex(tab == kFormatTab && tabs_->count() > 1 ? 1 : 0);

    QDialogButtonBox* buttons =
        okCancelButtons(this, host, "STR_PREFERENCE_BUTTON_OK", "STR_PREFERENCE_BUTTON_CANCEL");
    QPushButton* ac3 = buttons->addButton(tableText(host, "STR_PREFERENCE_BUTTON_AC3"),
                                          QDialogButtonBox::ActionRole);
    connect(ac3, &QPushButton::clicked, this, &PreferenceDialog::chooseAc3File);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
}

bool PreferenceDialog::run(QWidget* parent, UiHost& host, SettingsStore& settings,
                           EngineSet& engines, int tab) {
    PreferenceDialog dialog(parent, host, settings, engines, tab);
    return dialog.exec() == QDialog::Accepted;
}

void PreferenceDialog::chooseAc3File() {
    if (auto path = gui::chooseAc3File(this, host_, global_->ac3File())) global_->setAc3File(*path);
}

void PreferenceDialog::accept() {
    global_->commit(host_, settings_.input);
    if (mpeg_) mpeg_->commit(settings_.output, settings_.app);
    if (avi_) avi_->commit(settings_.output);
    QDialog::accept();
}

}  // namespace zembra::gui

#include "gui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "gui/desktop/desktop_notifier.h"
#include "gui/desktop/disc_sources.h"
#include "gui/desktop/dropped_sources.h"
#include "gui/desktop/help_page.h"
#include "gui/desktop/qt_translations.h"
#include "gui/desktop/shutdown_countdown.h"
#include "gui/desktop/suspend_inhibitor.h"
#include "gui/desktop/window_memory.h"
#include "gui/desktop/window_title.h"
#include "gui/dialogs/about_dialog.h"
#include "gui/dialogs/crop_dialog.h"
#include "gui/dialogs/preference_dialog.h"
#include "gui/dialogs/properties_dialog.h"
#include "gui/dialogs/size_dialog.h"
#include "gui/preview_widget.h"
#include "gui/qt_host.h"
#include "gui/qt_main_view.h"
#include "gui/qt_text.h"

namespace zembra::gui {

namespace {

constexpr int kColumnName = 0;
constexpr int kColumnCount = 4;
const char* const kColumnKeys[kColumnCount] = {
    "STR_MAIN_LISTVIEW_Files_OutputName", "STR_MAIN_LISTVIEW_Files_IFOName",
    "STR_MAIN_LISTVIEW_Files_Chapters", "STR_MAIN_LISTVIEW_Files_Time"};
const int kColumnWidths[kColumnCount] = {200, 200, 100, 100};

// Only the output name can be edited in place.
class NameOnlyDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() != kColumnName) return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
};

void setEntries(QComboBox* box, const ChoiceList& list) {
    QStringList entries;
    for (const std::string& e : list.entries) entries << qtText(e);
    bool same = box->count() == entries.size();
    for (int i = 0; same && i < box->count(); ++i) same = box->itemText(i) == entries[i];
    if (!same) {
        box->clear();
        box->addItems(entries);
    }
    box->setCurrentIndex(list.selected < box->count() ? list.selected : -1);
}

}  // namespace

namespace {
const QString kTitle = QStringLiteral("Zembra");

QString languageFileName(const CZembraApp& app) {
    return QFileInfo(qtText(app.languagePath())).fileName();
}
}  // namespace

MainWindow::MainWindow(CZembraApp& app, EngineSet& engines, EncodeDlg& dlg, QtHost& host,
                       QtMainView& view, UiChannel& channel, WindowMemory& memory)
    : app_(app),
      engines_(engines),
      dlg_(dlg),
      host_(host),
      view_(view),
      channel_(channel),
      memory_(memory),
      qtTranslations_(std::make_unique<QtTranslations>()),
      inhibitor_(new SuspendInhibitor(QDBusConnection::systemBus(), this)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(kTitle);
    setAcceptDrops(true);
    // Opening a disc reads it (a drive may spin up or retry a bad sector):
    // that runs beside the window, as a rip does.
    dlg_.setOpenRunner(
        [this](std::function<void()> open) { startJob(std::move(open), Job::Open); });
    auto* central = new QWidget(this);
    auto* top = new QHBoxLayout;
    top->addWidget(buildFileList(), 1);
    top->addWidget(buildSourceButtons());
    auto* settings = new QVBoxLayout;
    settings->addWidget(buildChoiceGrid());
    settings->addStretch(1);
    preview_ = new PreviewWidget(central);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->setAreaListener([this](int w, int h) {
        if (commandsAllowed()) dlg_.setPreviewArea(w, h);
    });
    auto* middle = new QHBoxLayout;
    middle->addLayout(settings);
    middle->addWidget(preview_, 1);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top, 1);
    layout->addLayout(middle, 1);
    layout->addWidget(buildMonitor());
    setCentralWidget(central);
    buildActions();
    buildMenus();
    host_.setOwner(this);
    view_.setOwner(this);
    channel_.setSink(this);
    qtTranslations_->switchTo(languageFileName(app_));
    retranslate();
    view_.refresh();
    resize(sizeHint().expandedTo(QSize(760, 600)));
    memory_.restoreWindow(*this);
    memory_.restoreColumns(*files_->header());
}

MainWindow::~MainWindow() {
    channel_.setSink(nullptr);
    stopWork();
}

void MainWindow::stopWork() {
    if (!worker_) return;
    // The program is ending under a running rip (the window refuses to close
    // while one runs, so only a forced end gets here): stop it and let the
    // worker's last questions be answered No without a box.
    host_.setClosing();
    dlg_.cancelNow();
    // The worker's end is handled here, not by the usual slot: the events
    // processed while waiting may deliver its finished signal, and that slot
    // would free the thread and wind up the window being destroyed.
    disconnect(worker_, &QThread::finished, this, &MainWindow::onWorkerFinished);
    while (!worker_->wait(10)) QCoreApplication::processEvents();
    if (!worker_) return;
    delete worker_;
    worker_ = nullptr;
    view_.setWorkerRunning(false);
    if (job_ == Job::Rip) dlg_.finishRip();
}

QString MainWindow::text(const char* key) const { return qtText(host_.text(key)); }

void MainWindow::translated(const char* key, std::function<void(const QString&)> setter) {
    setter(text(key));
    texts_.emplace_back(key, std::move(setter));
}

void MainWindow::retranslate() {
    for (auto& [key, setter] : texts_) setter(text(key));
    QStringList headers;
    for (const char* key : kColumnKeys) headers << text(key);
    files_->setHeaderLabels(headers);
}

// ---------------------------------------------------------------- building

QWidget* MainWindow::buildFileList() {
    files_ = new QTreeWidget;
    files_->setObjectName(QStringLiteral("fileList"));
    files_->setColumnCount(kColumnCount);
    files_->setRootIsDecorated(false);
    files_->setUniformRowHeights(true);
    files_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    files_->setEditTriggers(QAbstractItemView::SelectedClicked);
    files_->setItemDelegate(new NameOnlyDelegate(files_));
    files_->setContextMenuPolicy(Qt::CustomContextMenu);
    for (int c = 0; c < kColumnCount; ++c) files_->setColumnWidth(c, kColumnWidths[c]);
    files_->header()->setStretchLastSection(true);
    connect(files_, &QTreeWidget::itemSelectionChanged, this, &MainWindow::onSelectionChanged);
    connect(files_, &QTreeWidget::itemChanged, this, &MainWindow::onItemChanged);
    connect(files_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { onItemDoubleClicked(item); });
    connect(files_, &QWidget::customContextMenuRequested, this, &MainWindow::onFileListMenu);
    return files_;
}

QPushButton* MainWindow::button(const char* key, const char* name, std::function<void()> command) {
    auto* b = new QPushButton;
    b->setObjectName(QLatin1String(name));
    translated(key, [b](const QString& t) { b->setText(t); });
    if (command) connect(b, &QPushButton::clicked, this, [this, command] { guarded(command); });
    return b;
}

QWidget* MainWindow::buildSourceButtons() {
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    openDvdButton_ = button("STR_MAIN_BUTTON_OpenDVD", "openDvdButton", [this] { dlg_.openDvd(); });
    openIfoButton_ = button("STR_MAIN_BUTTON_OpenIFO", "openIfoButton", [this] { dlg_.openIfo(); });
    openVobButton_ = button("STR_MAIN_BUTTON_OpenVOB", "openVobButton", [this] { dlg_.openVob(); });
    removeButton_ =
        button("STR_MAIN_BUTTON_Remove", "removeButton", [this] { dlg_.removeSelected(); });
    settingButton_ =
        button("STR_MAIN_BUTTON_Setting", "settingButton", [this] { settingDialog(0); });
    for (QPushButton* b :
         {openDvdButton_, openIfoButton_, openVobButton_, removeButton_, settingButton_})
        column->addWidget(b);
    column->addStretch(1);
    return box;
}

QComboBox* MainWindow::combo(const char* name, void (EncodeDlg::*choose)(int)) {
    auto* box = new QComboBox;
    box->setObjectName(QLatin1String(name));
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(16);
    // `activated` comes only from the user: refilling or re-selecting an
    // entry from the controller's state never applies a preset again.
    connect(box, &QComboBox::activated, this, [this, choose](int index) {
        guarded([this, choose, index] { (dlg_.*choose)(index); });
    });
    return box;
}

QLabel* MainWindow::label(const char* key, QWidget* buddy) {
    auto* l = new QLabel;
    l->setBuddy(buddy);
    translated(key, [l](const QString& t) { l->setText(t); });
    return l;
}

// The selection lists above the output choices, in one grid so that their
// labels and fields line up.
QWidget* MainWindow::buildChoiceGrid() {
    auto* group = new QWidget;
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(0, 0, 0, 0);
    index_ = combo("indexList", &EncodeDlg::chooseIndex);
    audio_ = combo("audioList", &EncodeDlg::chooseAudio);
    subtitle_ = combo("subtitleList", &EncodeDlg::chooseSubtitle);
    angle_ = combo("angleList", &EncodeDlg::chooseAngle);
    angle_->setMinimumContentsLength(3);
    format_ = combo("formatList", &EncodeDlg::chooseFormat);
    zoom_ = combo("zoomList", &EncodeDlg::chooseZoom);
    split_ = combo("splitList", &EncodeDlg::chooseSplit);
    configureButton_ =
        button("STR_MAIN_BUTTON_Config", "configureButton", [this] { configureDialog(); });
    splitSettingButton_ =
        button("STR_MAIN_BUTTON_SplitSetting", "splitSettingButton", [this] { splitSetting(); });
    outputFolder_ = new QLineEdit;
    outputFolder_->setObjectName(QStringLiteral("outputFolder"));
    connect(outputFolder_, &QLineEdit::editingFinished, this, &MainWindow::onOutputFolderEdited);
    browseButton_ =
        button("STR_MAIN_BUTTON_Browse", "browseButton", [this] { dlg_.browseOutputFolder(); });

    auto* angle = new QHBoxLayout;
    angle->addWidget(label("STR_MAIN_LABEL_Angle", angle_));
    angle->addWidget(angle_, 1);
    int row = 0;
    auto addRow = [&](const char* key, QWidget* field, QWidget* beside, int span) {
        grid->addWidget(label(key, field), row, 0);
        grid->addWidget(field, row, 1, 1, span);
        if (beside) grid->addWidget(beside, row, 2);
        ++row;
    };
    addRow("STR_MAIN_LABEL_Index", index_, nullptr, 2);
    addRow("STR_MAIN_LABEL_Audio", audio_, nullptr, 2);
    addRow("STR_MAIN_LABEL_Subtitle", subtitle_, nullptr, 1);
    grid->addLayout(angle, row - 1, 2);
    addRow("STR_MAIN_LABEL_Format", format_, configureButton_, 1);
    addRow("STR_MAIN_LABEL_Zoom", zoom_, nullptr, 1);
    addRow("STR_MAIN_LABEL_Split", split_, splitSettingButton_, 1);
    addRow("STR_MAIN_LABEL_OutputFolder", outputFolder_, browseButton_, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget* MainWindow::buildMonitor() {
    auto* group = new QGroupBox;
    group->setObjectName(QStringLiteral("monitorBox"));
    translated("STR_MAIN_LABEL_Monitor", [group](const QString& t) { group->setTitle(t); });
    monitor_ = new QLabel;
    monitor_->setObjectName(QStringLiteral("monitorLine"));
    monitor_->setTextFormat(Qt::PlainText);
    monitor_->setMinimumWidth(100);
    monitor_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setRange(0, 100);
    progress_->setValue(100);
    // The Rip button is also the Cancel button: it is not gated by the busy state.
    ripButton_ = button("STR_MAIN_BUTTON_Rip", "ripButton", nullptr);
    connect(ripButton_, &QPushButton::clicked, this, &MainWindow::ripOrCancel);
    ripButton_->setMinimumWidth(ripButton_->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 8);
    auto* grid = new QGridLayout(group);
    grid->addWidget(monitor_, 0, 0);
    grid->addWidget(progress_, 1, 0);
    grid->addWidget(ripButton_, 0, 1, 2, 1);
    grid->setColumnStretch(0, 1);
    return group;
}

QAction* MainWindow::action(const char* key, std::function<void()> command) {
    auto* a = new QAction(this);
    a->setObjectName(QLatin1String(key));
    translated(key, [a](const QString& t) { a->setText(t); });
    connect(a, &QAction::triggered, this, [this, command] { guarded(command); });
    return a;
}

void MainWindow::buildActions() {
    // The File List menu; its keys act only while the list has the focus
    // (Ctrl+C, Ctrl+V, Shift+Del and Shift+letters are text keys elsewhere).
    fileListMenu_ = new QMenu(this);
    fileListMenu_->setObjectName(QStringLiteral("fileListMenu"));
    struct ListCommand {
        const char* key;
        QKeySequence keys;
        std::function<void()> command;
    };
    const ListCommand listCommands[] = {
        {"STR_MAIN_MENU_EDIT_Uncheck", QKeySequence(Qt::CTRL | Qt::Key_U),
         [this] { dlg_.uncheckSelected(); }},
        {"STR_MAIN_MENU_EDIT_UncheckAll", QKeySequence(Qt::SHIFT | Qt::Key_U),
         [this] { dlg_.uncheckAll(); }},
        {"STR_MAIN_MENU_EDIT_Check", QKeySequence(Qt::CTRL | Qt::Key_C),
         [this] { dlg_.checkSelected(); }},
        {"STR_MAIN_MENU_EDIT_CheckAll", QKeySequence(Qt::SHIFT | Qt::Key_C),
         [this] { dlg_.checkAll(); }},
        {"STR_MAIN_MENU_EDIT_Remove", QKeySequence(Qt::Key_Delete),
         [this] { dlg_.removeSelected(); }},
        {"STR_MAIN_MENU_EDIT_RemoveAll", QKeySequence(Qt::SHIFT | Qt::Key_Delete),
         [this] { dlg_.removeAll(); }},
        {"STR_MAIN_MENU_EDIT_Rename", QKeySequence(), [this] { renameCurrentRow(); }},
        {"STR_MAIN_MENU_EDIT_Properties", QKeySequence(), [this] { properties(); }},
    };
    for (const ListCommand& c : listCommands) {
        QAction* a = action(c.key, c.command);
        if (!c.keys.isEmpty()) {
            a->setShortcut(c.keys);
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            files_->addAction(a);
        }
        fileListMenu_->addAction(a);
        idleActions_.push_back(a);
    }
    // Open commands on the list's own keys (Ctrl+V opens VOB files only there).
    const std::pair<QKeySequence, std::function<void()>> openKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_D), [this] { dlg_.openDvd(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_I), [this] { dlg_.openIfo(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_V), [this] { dlg_.openVob(); }},
    };
    for (const auto& open : openKeys) {
        auto* a = new QAction(files_);
        a->setShortcut(open.first);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, [this, command = open.second] { guarded(command); });
        files_->addAction(a);
    }
}

void MainWindow::buildMenus() {
    auto menu = [this](const char* key, QMenu* parent) {
        QMenu* m = parent ? new QMenu(parent) : new QMenu(this);
        m->setObjectName(QLatin1String(key));
        translated(key, [m](const QString& t) { m->setTitle(t); });
        if (parent)
            parent->addMenu(m);
        else
            menuBar()->addMenu(m);
        return m;
    };
    auto idle = [this](QAction* a) {
        idleActions_.push_back(a);
        return a;
    };

    fileMenu_ = menu("STR_MAIN_MENUBAR_File", nullptr);
    QAction* openDvd = idle(action("STR_MAIN_MENU_FILE_OpenDVD", [this] { dlg_.openDvd(); }));
    openDvd->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    fileMenu_->addAction(openDvd);
    fileMenu_->addAction(idle(action("STR_MAIN_MENU_FILE_OpenIFO", [this] { dlg_.openIfo(); })));
    fileMenu_->addAction(idle(action("STR_MAIN_MENU_FILE_OpenVOB", [this] { dlg_.openVob(); })));
    // A folder chooser cannot pick an image file.
    fileMenu_->addAction(idle(action("STR_DESKTOP_OpenDiscImage", [this] { openDiscImage(); })));
    fileMenu_->addSeparator();
    fileMenu_->addAction(
        idle(action("STR_MAIN_MENU_FILE_SettingDlg", [this] { settingDialog(0); })));
    fileMenu_->addAction(action("STR_MAIN_MENU_FILE_HelpContext", [this] { showHelp(); }));
    fileMenu_->addSeparator();
    quitAction_ = new QAction(this);
    quitAction_->setObjectName(QStringLiteral("quitAction"));
    translated("STR_MAIN_BUTTON_Close", [this](const QString& t) { quitAction_->setText(t); });
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Closing while ripping is refused in closeEvent, with its message.
    connect(quitAction_, &QAction::triggered, this, &QWidget::close);
    fileMenu_->addAction(quitAction_);

    settingMenu_ = menu("STR_MAIN_MENUBAR_Setting", nullptr);
    QAction* setting =
        idle(action("STR_MAIN_MENU_SETTING_SettingDlg", [this] { settingDialog(0); }));
    setting->setShortcut(QKeySequence(Qt::Key_F2));
    settingMenu_->addAction(setting);
    cropMenu_ = menu("STR_MAIN_MENU_SETTING_Crop", settingMenu_);
    correct43Action_ =
        idle(action("STR_MAIN_MENU_SETTING_CROP_43Correct", [this] { dlg_.toggleCorrect43(); }));
    showResolutionAction_ = idle(action("STR_MAIN_MENU_SETTING_CROP_ShowResolution",
                                        [this] { dlg_.toggleShowResolution(); }));
    for (QAction* a : {correct43Action_, showResolutionAction_}) {
        a->setCheckable(true);
        cropMenu_->addAction(a);
    }
    cropMenu_->addAction(
        idle(action("STR_MAIN_MENU_SETTING_CROP_EditCoordinate", [this] { editCoordinate(); })));
    cropMenu_->addSeparator();
    renderSourceAction_ = idle(
        action("STR_MAIN_MENU_SETTING_CROP_RenderSource", [this] { dlg_.setRenderSource(true); }));
    renderDestinationAction_ = idle(action("STR_MAIN_MENU_SETTING_CROP_RenderDestination",
                                           [this] { dlg_.setRenderSource(false); }));
    auto* renderGroup = new QActionGroup(this);
    for (QAction* a : {renderSourceAction_, renderDestinationAction_}) {
        a->setCheckable(true);
        renderGroup->addAction(a);
        cropMenu_->addAction(a);
    }
    cropMenu_->addSeparator();
    adjustMenu_ = menu("STR_MAIN_MENU_SETTING_CROP_AdjustResolution", cropMenu_);
    const char* const adjustKeys[] = {"STR_MAIN_MENU_SETTING_CROP_AdjustResolution_43Correct",
                                      "STR_MAIN_MENU_SETTING_CROP_AdjustResolution_Selection",
                                      "STR_MAIN_MENU_SETTING_CROP_AdjustResolution_PreserveRatio"};
    for (int mode = 0; mode < 3; ++mode)
        adjustMenu_->addAction(
            idle(action(adjustKeys[mode], [this, mode] { dlg_.adjustOutputResolution(mode); })));

    priorityMenu_ = menu("STR_MAIN_MENU_SETTING_Priority", settingMenu_);
    priorityGroup_ = new QActionGroup(this);
    const char* const priorityKeys[] = {
        "STR_MAIN_MENU_SETTING_Priority_Normal", "STR_MAIN_MENU_SETTING_Priority_Idle",
        "STR_MAIN_MENU_SETTING_Priority_High", "STR_MAIN_MENU_SETTING_PRIORITY_RealTime"};
    for (int choice = 0; choice < 4; ++choice) {
        QAction* a =
            idle(action(priorityKeys[choice], [this, choice] { dlg_.choosePriority(choice); }));
        a->setCheckable(true);
        priorityGroup_->addAction(a);
        priorityMenu_->addAction(a);
        priorityActions_.push_back(a);
    }
    languageMenu_ = menu("STR_MAIN_MENU_SETTING_Language", settingMenu_);
    settingMenu_->addSeparator();
    shutDownAction_ = idle(action("STR_MAIN_MENU_SETTING_ShutDown", [this] {
        SettingsStore& settings = app_.settings();
        settings.input.shutDown = shutDownAction_->isChecked();
        dlg_.settingsChanged();
    }));
    shutDownAction_->setCheckable(true);
    settingMenu_->addAction(shutDownAction_);
    languageGroup_ = new QActionGroup(this);
    buildLanguageMenu();

    toolsMenu_ = menu("STR_MAIN_MENUBAR_Tools", nullptr);
    toolsMenu_->addAction(idle(action("STR_MAIN_MENU_TOOL_OpenDVD", [this] { dlg_.openDvd(); })));
    toolsMenu_->addAction(idle(action("STR_MAIN_MENU_TOOL_OpenIFO", [this] { dlg_.openIfo(); })));
    toolsMenu_->addAction(idle(action("STR_MAIN_MENU_TOOL_OpenVOB", [this] { dlg_.openVob(); })));
    toolsMenu_->addAction(
        idle(action("STR_MAIN_MENU_TOOL_Remove", [this] { dlg_.removeSelected(); })));
    toolsMenu_->addSeparator();
    toolsMenu_->addAction(
        idle(action("STR_MAIN_MENU_TOOL_SettingDlg", [this] { settingDialog(0); })));
    toolsMenu_->addAction(action("STR_MAIN_MENU_TOOL_HelpContext", [this] { showHelp(); }));

    helpMenu_ = menu("STR_MAIN_BUTTON_SysHelp", nullptr);
    QAction* help = action("STR_MAIN_MENU_HELP_HelpContext", [this] { showHelp(); });
    help->setShortcut(QKeySequence(Qt::Key_F1));
    helpMenu_->addAction(help);
    helpMenu_->addAction(action("STR_MAIN_MENU_HELP_OnlineResources", [this] { showHelp(); }));
    helpMenu_->addAction(action("STR_MAIN_MENU_HELP_TechnicalSupport", [this] { showHelp(); }));
    helpMenu_->addSeparator();
    helpMenu_->addAction(action("STR_MAIN_MENU_HELP_About", [this] { showAbout(); }));

    auto* rip = new QAction(this);
    rip->setObjectName(QStringLiteral("ripAction"));
    rip->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(rip, &QAction::triggered, this, [this] {
        if (ripButton_->isEnabled()) ripOrCancel();
    });
    addAction(rip);
}

void MainWindow::buildLanguageMenu() {
    // Built again from a language entry's own trigger: the old entries go
    // once that has returned.
    for (QAction* a : languageGroup_->actions()) {
        languageGroup_->removeAction(a);
        languageMenu_->removeAction(a);
        a->deleteLater();
    }
    for (const LanguageMenuItem& item : app_.buildLanguageMenu()) {
        auto* a = new QAction(qtText(item.name), languageGroup_);
        a->setCheckable(true);
        a->setChecked(item.checked);
        a->setData(item.commandId);
        const int id = item.commandId;
        connect(a, &QAction::triggered, this, [this, id] { chooseLanguage(id); });
        languageMenu_->addAction(a);
    }
}

// ---------------------------------------------------------------- the state

void MainWindow::showStatus(const QString& text) { monitor_->setText(text); }

void MainWindow::showProgress(int percent) {
    progress_->setValue(percent);
    showTitleProgress();
}

// The rip's percentage in the title, for the task bar while the window is hidden.
void MainWindow::showTitleProgress() {
    setWindowTitle(progressWindowTitle(kTitle, progress_->value(), ripRunning()));
}

void MainWindow::showState(const ViewState& s) {
    state_ = s;
    // The controller's monitor line and progress are drawn when they change;
    // in between, the engines' own reports stay on screen.
    if (s.controls.monitorLine != shownMonitorLine_) {
        shownMonitorLine_ = s.controls.monitorLine;
        monitor_->setText(qtText(s.controls.monitorLine));
    }
    if (s.controls.progress != shownProgress_) {
        shownProgress_ = s.controls.progress;
        progress_->setValue(std::clamp(s.controls.progress, 0, 100));
    }
    syncing_ = true;
    syncFileList(s);
    syncCombos(s);
    syncMenus(s);
    if (!outputFolder_->hasFocus() || !outputFolder_->isModified()) {
        outputFolder_->setText(qtText(s.controls.outputFolder));
        outputFolder_->setModified(false);
    }
    ripButton_->setText(qtText(s.controls.ripButtonText));
    syncing_ = false;
    applyEnabling();
    showTitleProgress();
}

void MainWindow::syncFileList(const ViewState& s) {
    const int count = int(s.rows.size());
    const bool grew = count > files_->topLevelItemCount();
    while (files_->topLevelItemCount() > count) delete files_->takeTopLevelItem(count);
    while (files_->topLevelItemCount() < count) {
        auto* item = new QTreeWidgetItem(files_);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable |
                       Qt::ItemIsEditable);
    }
    QTreeWidgetItem* lastSelected = nullptr;
    for (int r = 0; r < count; ++r) {
        const FileRow& row = s.rows[size_t(r)];
        QTreeWidgetItem* item = files_->topLevelItem(r);
        const QString columns[kColumnCount] = {qtText(row.outputName), qtText(row.sourcePath),
                                               qtText(row.chapters), qtText(row.time)};
        for (int c = 0; c < kColumnCount; ++c)
            if (item->text(c) != columns[c]) item->setText(c, columns[c]);
        const Qt::CheckState check = row.checked ? Qt::Checked : Qt::Unchecked;
        if (item->checkState(kColumnName) != check) item->setCheckState(kColumnName, check);
        if (item->isSelected() != row.selected) item->setSelected(row.selected);
        if (row.selected) lastSelected = item;
    }
    // After an Open the new last row is selected: show it and give it the focus.
    if (grew && lastSelected) {
        files_->setCurrentItem(lastSelected, kColumnName, QItemSelectionModel::NoUpdate);
        files_->scrollToItem(lastSelected);
    }
}

std::array<std::pair<QComboBox*, const ChoiceList*>, 7> MainWindow::comboLists(
    const ViewState& s) const {
    return {{{index_, &s.controls.indexList},
             {audio_, &s.controls.audioList},
             {subtitle_, &s.controls.subtitleList},
             {angle_, &s.controls.angleList},
             {format_, &s.controls.formatList},
             {zoom_, &s.controls.zoomList},
             {split_, &s.controls.splitList}}};
}

void MainWindow::syncCombos(const ViewState& s) {
    for (const auto& [box, list] : comboLists(s)) setEntries(box, *list);
}

void MainWindow::syncMenus(const ViewState& s) {
    if (s.controls.priorityChecked >= 0 &&
        s.controls.priorityChecked < int(priorityActions_.size()))
        priorityActions_[size_t(s.controls.priorityChecked)]->setChecked(true);
    correct43Action_->setChecked(s.correct43);
    showResolutionAction_->setChecked(s.showResolution);
    (s.renderSource ? renderSourceAction_ : renderDestinationAction_)->setChecked(true);
    shutDownAction_->setChecked(s.shutDown);
}

bool MainWindow::commandsAllowed() const { return !worker_ && !state_.busy; }

void MainWindow::applyEnabling() {
    const ViewState& s = state_;
    const bool idle = commandsAllowed() && s.controls.controlsEnabled;
    for (QPushButton* b : {openDvdButton_, openIfoButton_, openVobButton_, settingButton_,
                           configureButton_, browseButton_})
        b->setEnabled(idle);
    removeButton_->setEnabled(idle && s.controls.removeEnabled);
    splitSettingButton_->setEnabled(idle && s.controls.splitSettingEnabled);
    outputFolder_->setEnabled(idle);
    files_->setEnabled(idle);
    for (const auto& [box, list] : comboLists(s)) box->setEnabled(idle && list->enabled);
    for (QAction* a : idleActions_) a->setEnabled(idle);
    // The source view is for the Custom zoom only.
    renderSourceAction_->setEnabled(idle && s.customZoom);
    renderDestinationAction_->setEnabled(idle && s.customZoom);
    languageMenu_->setEnabled(idle);
    // While ripping the button is Cancel; once a stop is confirmed nothing
    // is live until the worker has really ended.
    const bool ripping = worker_ || s.ripping;
    ripButton_->setEnabled(ripping ? !cancelConfirmed_ && s.controls.ripEnabled
                                   : idle && s.controls.ripEnabled);
}

void MainWindow::showPreview(const PreviewFrame& frame) { preview_->showFrame(frame); }

void MainWindow::showLogo() { preview_->showLogo(); }

// Only the source view holds the whole source frame; the output picture is
// cropped and scaled, so it cannot stand for it.
QImage MainWindow::sourceFrame() const {
    return preview_->frame().sourceView ? preview_->picture() : QImage();
}

// ---------------------------------------------------------------- user actions

void MainWindow::guarded(const std::function<void()>& command) {
    if (!commandsAllowed()) return;
    command();
}

void MainWindow::onSelectionChanged() {
    if (syncing_ || !commandsAllowed()) return;
    std::vector<int> rows;
    for (int r = 0; r < files_->topLevelItemCount(); ++r)
        if (files_->topLevelItem(r)->isSelected()) rows.push_back(r);
    dlg_.selectRows(rows);
}

void MainWindow::onItemChanged(QTreeWidgetItem* item, int column) {
    if (syncing_ || column != kColumnName || !commandsAllowed()) return;
    const int row = files_->indexOfTopLevelItem(item);
    if (row < 0 || row >= int(state_.rows.size())) return;
    const FileRow& known = state_.rows[size_t(row)];
    const bool checked = item->checkState(kColumnName) == Qt::Checked;
    if (checked != known.checked) dlg_.setRowChecked(row, checked);
    const std::string name = stdText(item->text(kColumnName));
    if (name != known.outputName) dlg_.setOutputName(row, name);
}

void MainWindow::onItemDoubleClicked(QTreeWidgetItem* item) {
    const int row = files_->indexOfTopLevelItem(item);
    if (row >= 0) guarded([this, row] { openPropertiesDialog(row); });
}

void MainWindow::onFileListMenu(const QPoint& position) {
    if (!commandsAllowed()) return;
    QTreeWidgetItem* item = files_->itemAt(position);
    QMenu* menu = item ? fileListMenu_ : settingMenu_;
    menu->exec(files_->viewport()->mapToGlobal(position));
}

void MainWindow::renameCurrentRow() {
    QTreeWidgetItem* item = files_->currentItem();
    if (!item && !files_->selectedItems().isEmpty()) item = files_->selectedItems().front();
    if (item) files_->editItem(item, kColumnName);
}

void MainWindow::onOutputFolderEdited() {
    if (syncing_ || !commandsAllowed()) return;
    const std::string typed = stdText(outputFolder_->text());
    outputFolder_->setModified(false);
    if (typed != state_.controls.outputFolder) dlg_.setOutputFolderText(typed);
}

void MainWindow::properties() {
    const QList<QTreeWidgetItem*> selected = files_->selectedItems();
    QTreeWidgetItem* item = files_->currentItem() && files_->currentItem()->isSelected()
                                ? files_->currentItem()
                                : (selected.isEmpty() ? nullptr : selected.front());
    if (item) openPropertiesDialog(files_->indexOfTopLevelItem(item));
}

void MainWindow::settingDialog(int tab) {
    if (dlg_.hasCurrentItem()) openPreferenceDialog(tab);
}

// The second tab is the AVI one for the AVI format, else the MPEG one.
void MainWindow::configureDialog() { settingDialog(1); }

void MainWindow::splitSetting() {
    if (!dlg_.decoderOpen()) {
        host_.error("STR_ERROR_23");
        return;
    }
    openSizeDialog();
}

void MainWindow::editCoordinate() {
    if (!dlg_.decoderOpen()) {
        host_.error("STR_ERROR_23");
        return;
    }
    openCropDialog();
}

void MainWindow::showHelp() {
    if (!openHelpPage(qtText(app_.programDir()), languageFileName(app_)))
        host_.error("STR_DESKTOP_HelpNotFound");
}

void MainWindow::openSource(SourceKind kind, const std::string& path) {
    openSources({{kind, path}});
}

// One job for all of them: a second job could not start while the first runs.
void MainWindow::openSources(std::vector<SourcePath> sources) {
    if (!commandsAllowed() || sources.empty()) return;
    startJob(
        [this, sources = std::move(sources)] {
            for (const SourcePath& source : sources) {
                switch (source.kind) {
                    case SourceKind::Dvd:
                        dlg_.openDvdFolder(source.path);
                        break;
                    case SourceKind::Ifo:
                        dlg_.openIfoFiles({source.path});
                        break;
                    case SourceKind::Vob:
                        dlg_.openVobFiles({source.path});
                        break;
                }
            }
        },
        Job::Open);
}

void MainWindow::openDiscImage() {
    const QString image = QFileDialog::getOpenFileName(
        this, text("STR_DESKTOP_OpenDiscImage"),
        memory_.lastFolder(WindowMemory::Folder::DiscImage), discImageNameFilter(app_.strings()));
    if (image.isEmpty()) return;
    memory_.setLastFolder(WindowMemory::Folder::DiscImage, image);
    openSource(SourceKind::Dvd, stdText(image));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (commandsAllowed() && !droppedSources(event->mimeData()).empty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const std::vector<SourcePath> sources = droppedSources(event->mimeData());
    if (!commandsAllowed() || sources.empty()) return;
    event->acceptProposedAction();
    openSources(sources);
}

void MainWindow::showAbout() { openAboutDialog(); }

void MainWindow::chooseLanguage(int commandId) {
    if (commandsAllowed() && app_.onLanguageCommand(commandId)) {
        qtTranslations_->switchTo(languageFileName(app_));
        dlg_.retranslate();
        retranslate();
        emit retranslated();
    }
    // The check mark follows the language in force (also when refused).
    buildLanguageMenu();
}

// ---------------------------------------------------------------- the rip

void MainWindow::ripOrCancel() {
    // An Open has nothing to cancel; its end gives the window back.
    if (worker_ && job_ == Job::Open) return;
    if (worker_) {
        if (cancelConfirmed_ || askingCancel_) return;
        askingCancel_ = true;
        const bool stop = dlg_.requestCancel();
        askingCancel_ = false;
        if (stop) cancelConfirmed_ = true;
        applyEnabling();
        // The worker may have ended while the question was open.
        if (workerEndPending_) onWorkerFinished();
        return;
    }
    if (!commandsAllowed()) return;
    // A name being typed into the list or the folder field counts first.
    if (QWidget* f = QApplication::focusWidget(); f && f != files_ && files_->isAncestorOf(f))
        files_->setFocus();
    onOutputFolderEdited();
    if (!dlg_.prepareRip()) return;
    startJob([this] { dlg_.runRip(); }, Job::Rip);
}

void MainWindow::startJob(std::function<void()> job, Job kind) {
    if (worker_) return;
    job_ = kind;
    cancelConfirmed_ = false;
    workerEndPending_ = false;
    view_.setWorkerRunning(true);
    worker_ = QThread::create(std::move(job));
    worker_->setObjectName(kind == Job::Rip ? QStringLiteral("rip") : QStringLiteral("open"));
    connect(worker_, &QThread::finished, this, &MainWindow::onWorkerFinished, Qt::QueuedConnection);
    worker_->start();
    applyEnabling();
    if (kind == Job::Open) return;
    inhibitor_->acquire(text("STR_DESKTOP_InhibitReason"));
    emit ripStarted();
}

void MainWindow::onWorkerFinished() {
    if (!worker_) return;
    if (askingCancel_) {
        workerEndPending_ = true;
        return;
    }
    workerEndPending_ = false;
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    view_.setWorkerRunning(false);
    // The worker's last reports come before the idle state.
    channel_.flush();
    if (job_ == Job::Rip) {
        afterRip();
        return;
    }
    view_.refresh();
    applyEnabling();
    // The list was off during the Open; its new last row has the focus.
    if (files_->topLevelItemCount() > 0) files_->setFocus();
    emit sourcesOpened();
}

void MainWindow::afterRip() {
    const bool cancelled = cancelConfirmed_ || dlg_.cancelled();
    const bool switchOff = dlg_.finishRip();
    cancelConfirmed_ = false;
    inhibitor_->release();
    view_.refresh();
    dlg_.setPreviewArea(preview_->width(), preview_->height());
    DesktopNotifier().ripEnded(app_.strings(), dlg_.rowsCompleted(), cancelled);
    emit ripEnded();
    // The user still at the computer may keep it running.
    if (switchOff && ShutdownCountdown::confirm(app_.strings(), this)) dlg_.Shutdown();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (worker_ || state_.busy) {
        host_.warning("STR_ERROR_28");
        event->ignore();
        return;
    }
    switch (dlg_.closeWindow()) {
        case CloseResult::Ripping:
            event->ignore();
            return;
        case CloseResult::SaveFailed:
            host_.messageBox(BoxKind::Warning,
                             host_.text("STR_MAIN_DLG_SaveFailed") + app_.optionsFile());
            break;
        case CloseResult::Closed:
            break;
    }
    memory_.saveWindow(*this);
    memory_.saveColumns(*files_->header());
    memory_.sync();
    event->accept();
}

// ---------------------------------------------------------------- dialogs

void MainWindow::openPreferenceDialog(int tab) {
    if (!PreferenceDialog::run(this, host_, app_.settings(), engines_, tab)) return;
    dlg_.settingsChanged();
    dlg_.redrawPreview();
}

void MainWindow::openPropertiesDialog(int row) {
    const DVDProjectItem* item = dlg_.item(row);
    if (!item) return;
    InputSettings input = item->input;
    OutputSettings output = item->output;
    // A VOB row's catalogue is built when it is ripped: its chapters are not
    // known yet.
    const TitleRecord* title =
        item->kind == DVDProjectItem::kIfo ? item->catalogue.title(input.titleIndex) : nullptr;
    const int chapterCount = title ? title->chapterCount() : 0;
    if (PropertiesDialog::run(this, host_, input, output, {}, chapterCount))
        dlg_.setItemSettings(row, input, output);
}

void MainWindow::openCropDialog() {
    SettingsStore& settings = app_.settings();
    if (!CropDialog::run(this, host_, settings.output, settings.input.sourceWidth,
                         settings.input.sourceHeight, sourceFrame()))
        return;
    dlg_.settingsChanged();
    dlg_.redrawPreview();
}

void MainWindow::openSizeDialog() {
    if (SizeDialog::run(this, host_, app_.settings().output)) dlg_.settingsChanged();
}

void MainWindow::openAboutDialog() { AboutDialog::run(this, host_); }

}  // namespace zembra::gui

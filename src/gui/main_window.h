#pragma once
// The main window: the file list, the selection and output lists, the
// command buttons, the monitor line, the preview and the menus, drawn from
// the controller's state and sending every user action to it. The rip runs
// on one worker thread; the window keeps answering while it does.

#include <QImage>
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/source_kind.h"
#include "gui/desktop/dropped_sources.h"
#include "gui/ui_channel.h"
#include "app/encode_dlg.h"

class QAction;
class QActionGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

namespace zembra {
class CZembraApp;
class EncodeDlg;
class EngineSet;
}  // namespace zembra

namespace zembra::gui {

class PreviewWidget;
class QtHost;
class QtMainView;
class QtTranslations;
class SuspendInhibitor;
class WindowMemory;

class MainWindow : public QMainWindow, public UiSink {
    Q_OBJECT
public:
    MainWindow(CZembraApp& app, EngineSet& engines, EncodeDlg& dlg, QtHost& host, QtMainView& view,
               UiChannel& channel, WindowMemory& memory);
    ~MainWindow() override;

    // UiSink: the reports of the controller and the engines.
    void showStatus(const QString& text) override;
    void showProgress(int percent) override;
    void showState(const ViewState& state) override;
    void showPreview(const PreviewFrame& frame) override;
    void showLogo() override;

    const ViewState& state() const { return state_; }
    // True while the worker thread runs a rip, or an Open.
    bool ripRunning() const { return worker_ != nullptr && job_ == Job::Rip; }
    bool jobRunning() const { return worker_ != nullptr; }
    PreviewWidget* preview() const { return preview_; }
    // The source frame the crop dialog shows (null when the preview has none).
    QImage sourceFrame() const;

    // The commands (also reached through buttons, menus and keys).
    // A source named on the command line or dropped on the window.
    void openSource(SourceKind kind, const std::string& path);
    void openSources(std::vector<SourcePath> sources);
    // Ends a running rip or open as a forced end of the program does: the
    // file is closed whole, questions are answered No. Nothing when idle.
    void stopWork();
    void openDiscImage();
    void ripOrCancel();
    void chooseLanguage(int commandId);

signals:
    void ripStarted();
    void ripEnded();
    // An Open on the worker has ended and its rows are shown.
    void sourcesOpened();
    // After a language switch, every text has been set again.
    void retranslated();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Building.
    QWidget* buildFileList();
    QWidget* buildSourceButtons();
    QWidget* buildChoiceGrid();
    QWidget* buildMonitor();
    void buildActions();
    void buildMenus();
    void buildLanguageMenu();
    QAction* action(const char* key, std::function<void()> command);
    // A push button with a table text; `command` (when given) runs only when idle.
    QPushButton* button(const char* key, const char* name, std::function<void()> command);
    QComboBox* combo(const char* name, void (EncodeDlg::*choose)(int));
    QLabel* label(const char* key, QWidget* buddy);
    // A text of the string table, set now and again after a language switch.
    void translated(const char* key, std::function<void(const QString&)> setter);
    void retranslate();
    QString text(const char* key) const;

    // Drawing the state.
    void syncFileList(const ViewState& s);
    void syncCombos(const ViewState& s);
    // Each selection list with the entries the state holds for it.
    std::array<std::pair<QComboBox*, const ChoiceList*>, 7> comboLists(const ViewState& s) const;
    void syncMenus(const ViewState& s);
    void applyEnabling();
    bool commandsAllowed() const;

    // User actions.
    void onSelectionChanged();
    void onItemChanged(QTreeWidgetItem* item, int column);
    void onItemDoubleClicked(QTreeWidgetItem* item);
    void onFileListMenu(const QPoint& position);
    void onOutputFolderEdited();
    void renameCurrentRow();
    void guarded(const std::function<void()>& command);
    void settingDialog(int tab);
    void configureDialog();
    void splitSetting();
    void editCoordinate();
    void properties();
    void showHelp();
    void showAbout();

    // The rip.
    enum class Job { Rip, Open };
    void startJob(std::function<void()> job, Job kind);
    void onWorkerFinished();
    void afterRip();
    void showTitleProgress();

    // The dialogs.
    void openPreferenceDialog(int tab);
    void openPropertiesDialog(int row);
    void openCropDialog();
    void openSizeDialog();
    void openAboutDialog();

    CZembraApp& app_;
    EngineSet& engines_;
    EncodeDlg& dlg_;
    QtHost& host_;
    QtMainView& view_;
    UiChannel& channel_;
    WindowMemory& memory_;
    std::unique_ptr<QtTranslations> qtTranslations_;
    SuspendInhibitor* inhibitor_ = nullptr;

    ViewState state_;
    std::string shownMonitorLine_;  // the state's monitor line last drawn
    int shownProgress_ = -1;
    bool syncing_ = false;  // widgets being set from the state
    QThread* worker_ = nullptr;
    Job job_ = Job::Rip;
    bool cancelConfirmed_ = false;  // the rip is ending after a confirmed stop
    bool askingCancel_ = false;     // the "Stop process ?" box is open
    bool workerEndPending_ = false;

    std::vector<std::pair<const char*, std::function<void(const QString&)>>> texts_;

    QTreeWidget* files_ = nullptr;
    PreviewWidget* preview_ = nullptr;
    QPushButton *openDvdButton_ = nullptr, *openIfoButton_ = nullptr, *openVobButton_ = nullptr;
    QPushButton *removeButton_ = nullptr, *settingButton_ = nullptr, *configureButton_ = nullptr;
    QPushButton *browseButton_ = nullptr, *splitSettingButton_ = nullptr, *ripButton_ = nullptr;
    QComboBox *index_ = nullptr, *audio_ = nullptr, *subtitle_ = nullptr, *angle_ = nullptr;
    QComboBox *format_ = nullptr, *zoom_ = nullptr, *split_ = nullptr;
    QLineEdit* outputFolder_ = nullptr;
    QLabel* monitor_ = nullptr;
    QProgressBar* progress_ = nullptr;

    QMenu *fileMenu_ = nullptr, *settingMenu_ = nullptr, *toolsMenu_ = nullptr;
    QMenu *helpMenu_ = nullptr, *fileListMenu_ = nullptr, *languageMenu_ = nullptr;
    QMenu *cropMenu_ = nullptr, *priorityMenu_ = nullptr, *adjustMenu_ = nullptr;
    QActionGroup* languageGroup_ = nullptr;
    QActionGroup* priorityGroup_ = nullptr;
    std::vector<QAction*> priorityActions_;
    QAction *correct43Action_ = nullptr, *showResolutionAction_ = nullptr;
    QAction *renderSourceAction_ = nullptr, *renderDestinationAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* shutDownAction_ = nullptr;
    // Commands that only run in the idle state (disabled otherwise).
    std::vector<QAction*> idleActions_;
};

}  // namespace zembra::gui

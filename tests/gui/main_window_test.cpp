// The main window driven as a user drives it: opening the sample disc, the
// file list, the selection and output lists, the language switch, the
// preview, the message boxes and the file-chooser filters.

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>

#include "app/application.h"
#include "app/output_options.h"
#include "gui/dialogs/crop_dialog.h"
#include "gui/dialogs/preference_dialog.h"
#include "gui/dialogs/preference_tabs.h"
#include "gui/dialogs/properties_dialog.h"
#include "gui/dialogs/size_dialog.h"
#include "gui/preview_widget.h"
#include "gui/qt_host.h"
#include "gui/qt_text.h"
#include "gui/ui_channel.h"
#include "window_fixture.h"

using namespace zembra;
using namespace zembra::gui;
using namespace zembra::gui::testing;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void fileFiltersBecomeQtFilters_data();
    void fileFiltersBecomeQtFilters();
    void messageBoxesShowKindTitleAndPlainText();
    void workerBoxIsAnsweredOnTheWindowThread();
    void openDvdShowsTheTitleRow();
    void rowCommandsAndRenaming();
    void listsWriteSettingsWithoutReapplyingPresets();
    void listKeysActOnlyInTheList();
    void languageSwitchRelabelsAndKeepsSelections();
    void previewShowsFramesAndLogo();
    void dialogCommandsReachTheRowAndThePreview();
    void previewImageIsUprightAndInColour();
    void closingWritesOptions();
};

void MainWindowTest::fileFiltersBecomeQtFilters_data() {
    QTest::addColumn<QString>("windows");
    QTest::addColumn<QString>("qt");
    QTest::newRow("description holds the patterns") << "IFO Files (*.ifo)|*.ifo|"
                                                    << "IFO Files (*.ifo)";
    QTest::newRow("table's IFO filter") << "IFO File(*.ifo,*.IFO)|*.ifo;*.IFO|"
                                        << "IFO File(*.ifo,*.IFO) (*.ifo *.IFO)";
    QTest::newRow("two entries")
        << "VOB File(*.vob,*.VOB)|*.vob;*.VOB|MPEG File(*.mpg,*.MPG)|*.mpg;*.MPG|"
        << "VOB File(*.vob,*.VOB) (*.vob *.VOB);;MPEG File(*.mpg,*.MPG) (*.mpg *.MPG)";
    QTest::newRow("no closing bar, spaces") << "All| *.* "
                                            << "All (*.*)";
    QTest::newRow("empty") << ""
                           << "";
}

void MainWindowTest::fileFiltersBecomeQtFilters() {
    QFETCH(QString, windows);
    QFETCH(QString, qt);
    QCOMPARE(qtFileFilter(stdText(windows)), qt);
}

void MainWindowTest::messageBoxesShowKindTitleAndPlainText() {
    StringTable strings;
    UiChannel channel;
    QtHost host(&strings, channel);
    struct Case {
        BoxKind kind;
        QMessageBox::StandardButton answer;
        QString title;
        QMessageBox::Icon icon;
        BoxAnswer expected;
    };
    const Case cases[] = {
        {BoxKind::Error, QMessageBox::Ok, "Error", QMessageBox::Critical, BoxAnswer::Ok},
        {BoxKind::Warning, QMessageBox::Ok, "Warning", QMessageBox::Warning, BoxAnswer::Ok},
        {BoxKind::Question, QMessageBox::Yes, "Infomation", QMessageBox::Question, BoxAnswer::Yes},
        {BoxKind::Question, QMessageBox::No, "Infomation", QMessageBox::Question, BoxAnswer::No},
    };
    for (const Case& c : cases) {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            format = box->textFormat();
            box->button(c.answer)->click();
        });
        QCOMPARE(host.messageBox(c.kind, "<b>D:\\a.vob</b>\r\nline two"), c.expected);
        QCOMPARE(title, c.title);
        QCOMPARE(icon, c.icon);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(text, QStringLiteral("<b>D:\\a.vob</b>\nline two"));
    }
}

// A question from the worker waits for the user's answer on the window's
// thread; status reports from it arrive coalesced, the latest one shown.
void MainWindowTest::workerBoxIsAnsweredOnTheWindowThread() {
    StringTable strings;
    UiChannel channel;
    struct Sink : UiSink {
        QStringList statuses;
        QList<int> progress;
        void showStatus(const QString& t) override { statuses << t; }
        void showProgress(int p) override { progress << p; }
        void showState(const ViewState&) override {}
        void showPreview(const PreviewFrame&) override {}
        void showLogo() override {}
    } sink;
    channel.setSink(&sink);
    QtHost host(&strings, channel);
    answerNextBox(QMessageBox::Yes);
    BoxAnswer answer = BoxAnswer::No;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        for (int i = 1; i <= 100; ++i) {
            host.setStatus("step " + std::to_string(i));
            host.setProgress(i, 100);
            host.pumpMessages();
        }
        answer = host.messageBox(BoxKind::Question, "Stop process ?");
    }));
    worker->start();
    QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
    QCOMPARE(answer, BoxAnswer::Yes);
    QCoreApplication::processEvents();
    QVERIFY(!sink.statuses.isEmpty());
    QVERIFY(sink.statuses.size() < 100);
    QCOMPARE(sink.statuses.back(), QStringLiteral("step 100"));
    QCOMPARE(sink.progress.back(), 100);
}

void MainWindowTest::openDvdShowsTheTitleRow() {
    Sandbox box;
    Window w(box);
    QCOMPARE(w.fileList()->topLevelItemCount(), 0);
    QVERIFY(!w.ripButton()->isEnabled());
    QVERIFY(w.window().preview()->showsLogo());
    // The Open reads the disc beside the window: the click returns at once,
    // with everything but the window itself off until the Open has ended.
    w.nextFolder = stdText(sampleDisc());
    w.child<QPushButton>("openDvdButton")->click();
    QVERIFY(w.window().jobRunning());
    QVERIFY(!w.child<QPushButton>("openDvdButton")->isEnabled());
    QVERIFY(!w.ripButton()->isEnabled());
    w.waitForOpen();
    QCOMPARE(w.fileList()->topLevelItemCount(), 1);
    QVERIFY(w.fileList()->hasFocus());
    QTreeWidgetItem* row = w.fileList()->topLevelItem(0);
    QCOMPARE(row->text(0), QStringLiteral("Title_0"));
    QVERIFY2(row->text(1).endsWith(QStringLiteral("VTS_01_0.IFO")), qPrintable(row->text(1)));
    QCOMPARE(row->text(2), QStringLiteral("1"));
    QCOMPARE(row->text(3), QStringLiteral("00:00:06"));
    QCOMPARE(row->checkState(0), Qt::Checked);
    QVERIFY(row->isSelected());
    QCOMPARE(w.fileList()->headerItem()->text(1), QStringLiteral("IFO Name"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\[\\d\\d\\] Length:00:00:06$"))
                 .match(w.list("indexList")->itemText(0))
                 .hasMatch(),
             qPrintable(w.list("indexList")->itemText(0)));
    QVERIFY(w.list("indexList")->isEnabled());
    QVERIFY(w.ripButton()->isEnabled());
    QCOMPARE(w.ripButton()->text(), QStringLiteral("Rip Now"));
    QVERIFY(w.child<QPushButton>("removeButton")->isEnabled());
    // The title set's IFO only: no error box about the disc's menu IFO.
    QVERIFY(!QApplication::activeModalWidget());
    // Opened twice: two rows, the new one selected and the lists following it.
    w.openDvd(sampleDisc());
    QCOMPARE(w.fileList()->topLevelItemCount(), 2);
    QCOMPARE(w.fileList()->topLevelItem(1)->text(0), QStringLiteral("Title_1"));
    QVERIFY(w.fileList()->topLevelItem(1)->isSelected());
    QVERIFY(!w.fileList()->topLevelItem(0)->isSelected());
}

void MainWindowTest::rowCommandsAndRenaming() {
    Sandbox box;
    Window w(box);
    w.openDvd(sampleDisc());
    w.openDvd(sampleDisc());
    QTreeWidget* list = w.fileList();
    // The check box of a row that is not selected toggles that row only.
    list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QVERIFY(!w.dlg().rows()[0].checked);
    QVERIFY(w.dlg().rows()[1].checked);
    QCOMPARE(list->topLevelItem(1)->checkState(0), Qt::Checked);
    // An edited name goes to the row's output name.
    list->topLevelItem(1)->setText(0, QStringLiteral("Holiday"));
    QCOMPARE(w.dlg().rows()[1].outputName, std::string("Holiday"));
    // Two rows selected: the selection lists are off.
    list->topLevelItem(0)->setSelected(true);
    QCOMPARE(list->selectedItems().size(), 2);
    QVERIFY(!w.list("indexList")->isEnabled());
    QVERIFY(w.list("formatList")->isEnabled());
    // Remove takes both, the list is empty, the logo comes back.
    w.child<QPushButton>("removeButton")->click();
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(!w.ripButton()->isEnabled());
    QVERIFY(!w.child<QPushButton>("removeButton")->isEnabled());
    QCOMPARE(w.list("indexList")->itemText(0), QStringLiteral("None"));
    QVERIFY(w.window().preview()->showsLogo());
}

void MainWindowTest::listsWriteSettingsWithoutReapplyingPresets() {
    Sandbox box;
    Window w(box);
    w.openDvd(sampleDisc());
    SettingsStore& settings = w.session.app().settings();
    w.choose("formatList", 14);  // VCD PAL
    QCOMPARE(settings.output.formatIndex, 14);
    QCOMPARE(settings.output.width, 352);
    QCOMPARE(settings.output.height, 288);
    QCOMPARE(w.dlg().item(0)->output.width, 352);
    // A size set elsewhere (a dialog) survives every refill of the lists:
    // a row switch, a refresh and a language switch select entries without
    // applying them.
    settings.output.width = 320;
    w.dlg().settingsChanged();
    w.openDvd(sampleDisc());
    w.fileList()->topLevelItem(1)->setSelected(false);
    w.fileList()->topLevelItem(0)->setSelected(true);
    QCOMPARE(w.list("formatList")->currentIndex(), 14);
    QCOMPARE(settings.output.width, 320);
    w.choose("zoomList", kZoomCustom);
    QCOMPARE(settings.output.zoomMode, kZoomCustom);
    QCOMPARE(w.dlg().item(0)->output.zoomMode, kZoomCustom);
    QCOMPARE(settings.output.width, 320);
    // Split: only Custom Size enables its Setting... button.
    auto* splitSetting = w.child<QPushButton>("splitSettingButton");
    w.choose("splitList", 0);
    QCOMPARE(settings.output.splitMode, 0);
    QVERIFY(!splitSetting->isEnabled());
    w.choose("splitList", kSplitCustom);
    QCOMPARE(settings.output.splitMode, kSplitCustom);
    QVERIFY(splitSetting->isEnabled());
    // Index, audio, subtitle and angle write the row's input settings.
    w.choose("audioList", 0);
    QCOMPARE(settings.input.audioTrack, 0);
    w.choose("angleList", 1);
    QCOMPARE(settings.input.angle, 1);
    QCOMPARE(w.dlg().item(0)->input.angle, 1);
    w.choose("subtitleList", 0);
    QCOMPARE(settings.input.subtitle, 0);
    w.choose("indexList", 0);
    QCOMPARE(settings.input.titleIndex, 0);
    QCOMPARE(settings.output.width, 320);
    // The output folder field is written when it is left.
    auto* folder = w.child<QLineEdit>("outputFolder");
    const std::string other = box.root() + "elsewhere";
    std::filesystem::create_directories(other);
    folder->setText(QString::fromStdString(other));
    emit folder->editingFinished();
    QCOMPARE(settings.app.outputPath, other + "/");
    QCOMPARE(folder->text(), QString::fromStdString(other + "/"));
}

void MainWindowTest::listKeysActOnlyInTheList() {
    Sandbox box;
    Window w(box);
    w.openDvd(sampleDisc());
    QTreeWidget* list = w.fileList();
    auto* folder = w.child<QLineEdit>("outputFolder");
    folder->setFocus();
    QTest::keyClick(folder, Qt::Key_U, Qt::ControlModifier);
    QVERIFY(w.dlg().rows()[0].checked);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_U, Qt::ControlModifier);
    QVERIFY(!w.dlg().rows()[0].checked);
    QTest::keyClick(list, Qt::Key_C, Qt::ShiftModifier);
    QVERIFY(w.dlg().rows()[0].checked);
    // Ctrl+V in the field is paste, in the list Open VOB.
    w.nextFiles = {stdText(sampleDisc()) + "/VTS_01_1.VOB"};
    folder->setFocus();
    QTest::keyClick(folder, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(list->topLevelItemCount(), 1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
    w.waitForOpen();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(1), QString::fromStdString(w.nextFiles[0]));
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->topLevelItemCount(), 1);
}

void MainWindowTest::languageSwitchRelabelsAndKeepsSelections() {
    Sandbox box;
    Window w(box);
    w.openDvd(sampleDisc());
    w.choose("formatList", 13);
    CZembraApp& app = w.session.app();
    auto* languageMenu =
        w.window().findChild<QMenu*>(QStringLiteral("STR_MAIN_MENU_SETTING_Language"));
    // The menu's entry as the user picks it (the menu is built again from
    // inside that entry's own trigger).
    auto pick = [&](const QString& name) {
        for (QAction* a : languageMenu->actions())
            if (a->text() == name) return a->trigger();
        QFAIL(qPrintable(name));
    };
    QSignalSpy relabelled(&w.window(), &MainWindow::retranslated);
    pick(QStringLiteral("Deutsch"));
    QCOMPARE(relabelled.count(), 1);
    QCOMPARE(w.ripButton()->text(), QStringLiteral("Jetzt rippen"));
    QCOMPARE(w.fileList()->headerItem()->text(3), QStringLiteral("Dauer"));
    QCOMPARE(w.list("formatList")->currentIndex(), 13);
    QCOMPARE(w.list("formatList")->itemText(13),
             qtText(app.strings().text("STR_MAIN_COMBO_Format_13")));
    QCOMPARE(w.list("splitList")->itemText(0),
             qtText(app.strings().text("STR_MAIN_COMBO_Split_0")));
    QVERIFY(w.list("splitList")->itemText(0) != QStringLiteral("Infinite"));
    QCOMPARE(w.window().menuBar()->actions().front()->text(), QStringLiteral("Datei"));
    // The check mark moved to the language in force.
    QStringList checked;
    for (QAction* a : languageMenu->actions())
        if (a->isChecked()) checked << a->text();
    QCOMPARE(checked, QStringList{QStringLiteral("Deutsch")});
    QCOMPARE(w.session.app().settings().output.formatIndex, 13);
    pick(QStringLiteral("English"));
    QCOMPARE(w.ripButton()->text(), QStringLiteral("Rip Now"));
    QCOMPARE(w.fileList()->headerItem()->text(3), QStringLiteral("Time"));
    QCOMPARE(w.list("splitList")->itemText(0), QStringLiteral("Infinite"));
    QCOMPARE(w.window().menuBar()->actions().front()->text(), QStringLiteral("File"));
    QCOMPARE(w.list("formatList")->currentIndex(), 13);
}

void MainWindowTest::previewShowsFramesAndLogo() {
    Sandbox box;
    Window w(box);
    QVERIFY(w.window().preview()->showsLogo());
    w.openDvd(sampleDisc());
    w.choose("formatList", 14);
    QTRY_VERIFY(!w.window().preview()->showsLogo());
    const QImage picture = w.window().preview()->picture();
    QCOMPARE(picture.size(), QSize(352, 288));
    QVERIFY(picture.pixel(176, 144) != picture.pixel(10, 10) ||
            picture.pixel(300, 200) != picture.pixel(10, 10));
    w.dlg().removeAll();
    QVERIFY(w.window().preview()->showsLogo());
}

// Each dialog opens from its command, on the right tab and only when it
// can; what OK stores reaches the current row, and a crop the preview.
void MainWindowTest::dialogCommandsReachTheRowAndThePreview() {
    Sandbox box;
    Window w(box);
    SettingsStore& settings = w.session.app().settings();
    auto trigger = [&](const char* key) { w.child<QAction>(key)->trigger(); };
    bool opened = false;
    // Without a row: Setting... opens nothing, Edit Coordinate says why.
    onNextModal([&](QWidget* m) { opened = qobject_cast<PreferenceDialog*>(m); }, 5);
    trigger("STR_MAIN_MENU_SETTING_SettingDlg");
    QTest::qWait(150);  // longer than the hook above looks
    QVERIFY(!opened);
    QString error;
    answerNextBox(QMessageBox::Ok, &error);
    trigger("STR_MAIN_MENU_SETTING_CROP_EditCoordinate");
    QVERIFY2(error.startsWith(QStringLiteral("Decoder not inited.")), qPrintable(error));

    w.openDvd(sampleDisc());
    int tab = -1;
    onNextModal([&](QWidget* m) {
        auto* d = qobject_cast<PreferenceDialog*>(m);
        QVERIFY(d);
        tab = d->tabs()->currentIndex();
        d->globalTab()->bufferSize->setValue(12);
        d->accept();
    });
    trigger("STR_MAIN_MENU_SETTING_SettingDlg");
    QCOMPARE(tab, 0);
    QCOMPARE(settings.input.saveBufferSize, 12);
    QCOMPARE(w.dlg().item(0)->input.saveBufferSize, 12);
    onNextModal([&](QWidget* m) {
        auto* d = qobject_cast<PreferenceDialog*>(m);
        QVERIFY(d);
        tab = d->tabs()->currentIndex();
        d->mpegTab()->vbv->setValue(40);
        d->reject();
    });
    w.child<QPushButton>("configureButton")->click();
    QCOMPARE(tab, 1);
    QCOMPARE(settings.output.vbvBufferSize, 20);

    onNextModal([&](QWidget* m) {
        auto* d = qobject_cast<PropertiesDialog*>(m);
        QVERIFY(d);
        const DVDProjectItem* row = w.dlg().item(0);
        if (row->kind == DVDProjectItem::kIfo)
            QCOMPARE(d->chapterTo->maximum(),
                     row->catalogue.title(row->input.titleIndex)->chapterCount());
        d->width->setValue(320);
        d->accept();
    });
    emit w.fileList()->itemDoubleClicked(w.fileList()->topLevelItem(0), 1);
    QCOMPARE(w.dlg().item(0)->output.width, 320);

    w.choose("splitList", kSplitCustom);
    onNextModal([&](QWidget* m) {
        auto* d = qobject_cast<SizeDialog*>(m);
        QVERIFY(d);
        d->volume->setValue(650);
        d->accept();
    });
    w.child<QPushButton>("splitSettingButton")->click();
    QCOMPARE(settings.output.splitSizeMB, 650);
    QCOMPARE(w.dlg().item(0)->output.splitSizeMB, 650);

    // The crop counts with the Custom zoom: in the output picture, and as the
    // rectangle over the source view.
    w.choose("zoomList", kZoomCustom);
    trigger("STR_MAIN_MENU_SETTING_CROP_RenderDestination");
    QTRY_VERIFY(!w.window().preview()->frame().sourceView);
    const QImage before = w.window().preview()->picture();
    onNextModal([&](QWidget* m) {
        auto* d = qobject_cast<CropDialog*>(m);
        QVERIFY(d);
        d->x1->setValue(360);
        d->accept();
    });
    trigger("STR_MAIN_MENU_SETTING_CROP_EditCoordinate");
    QVERIFY(settings.output.cropLeft > 0.4);
    QTRY_VERIFY(w.window().preview()->picture() != before);
    trigger("STR_MAIN_MENU_SETTING_CROP_RenderSource");
    QTRY_VERIFY(w.window().preview()->frame().sourceView);
    QCOMPARE(w.window().preview()->frame().cropX1, 360);
    QVERIFY(w.window().preview()->frame().label.find("360") != std::string::npos);
}

void MainWindowTest::previewImageIsUprightAndInColour() {
    PreviewImage image;
    image.width = 16;
    image.height = 16;
    image.chromaWidth = 8;
    image.chromaHeight = 8;
    image.y.assign(256, 16);
    std::fill(image.y.begin(), image.y.begin() + 128, 235);  // top half white
    image.cb.assign(64, 128);
    image.cr.assign(64, 128);
    std::fill(image.cr.begin() + 32, image.cr.end(), 240);  // bottom half red
    const QImage picture = previewImage(image);
    QCOMPARE(picture.size(), QSize(16, 16));
    const QColor top = picture.pixelColor(3, 2);
    const QColor bottom = picture.pixelColor(3, 13);
    QVERIFY2(top.red() > 200 && top.green() > 200 && top.blue() > 200, qPrintable(top.name()));
    QVERIFY2(bottom.red() > 120 && bottom.green() < 30 && bottom.blue() < 30,
             qPrintable(bottom.name()));
    QCOMPARE(top.alpha(), 255);
    image.y.resize(10);
    QVERIFY(previewImage(image).isNull());
}

void MainWindowTest::closingWritesOptions() {
    Sandbox box;
    {
        Window w(box);
        w.openDvd(sampleDisc());
        w.choose("formatList", 13);
        w.window().findChild<QAction*>(QStringLiteral("quitAction"))->trigger();
        QVERIFY(!w.window().isVisible());
    }
    std::ifstream ini(box.optionsFile());
    std::string all((std::istreambuf_iterator<char>(ini)), {});
    QVERIFY2(all.find("StreamTypeSelected=13") != std::string::npos, all.c_str());

    // A settings file that cannot be written is said so; the window still
    // closes rather than trapping the user.
    Sandbox blocked;
    Window w(blocked);
    std::filesystem::remove(blocked.optionsFile());
    std::filesystem::create_directories(blocked.optionsFile() + "/in-the-way");
    QString warning;
    answerNextBox(QMessageBox::Ok, &warning);
    QVERIFY(w.window().close());
    QVERIFY2(warning.startsWith(QStringLiteral("The settings could not be saved to ")),
             qPrintable(warning));
    QVERIFY(warning.endsWith(QStringLiteral("options.ini")));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

// Rips started from the window: the files written (read back by ffprobe),
// the progress bar and monitor line while the rip's worker runs, Cancel
// answered Yes and No, closing refused during a rip, and how long the window
// goes without handling an event while it rips.

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <algorithm>

#include "app/engines/engine_set.h"
#include "app/output_options.h"
#include "gui/desktop/shutdown_countdown.h"
#include "window_fixture.h"

using namespace zembra;
using namespace zembra::gui;
using namespace zembra::gui::testing;

namespace {

constexpr int kVcdPal = 14;
constexpr int kDvdPalHigh = 12;

// What the progress bar and the monitor line showed, sampled as the user sees them.
struct Watch {
    explicit Watch(Window& w)
        : bar(w.child<QProgressBar>("progressBar")), monitor(w.child<QLabel>("monitorLine")) {
        QObject::connect(bar, &QProgressBar::valueChanged, [this](int v) { values << v; });
        QObject::connect(&timer, &QTimer::timeout, [this] { sample(); });
        timer.start(5);
    }
    void sample() {
        if (texts.isEmpty() || texts.back() != monitor->text()) texts << monitor->text();
        const QString title = monitor->window()->windowTitle();
        if (titles.isEmpty() || titles.back() != title) titles << title;
    }
    // The line as the rip left it counts too.
    bool sawTitle(const QString& part) const {
        return std::any_of(titles.begin(), titles.end(),
                           [&](const QString& t) { return t.contains(part); });
    }
    bool sawText(const QString& pattern) {
        sample();
        const QRegularExpression re(pattern);
        return std::any_of(texts.begin(), texts.end(),
                           [&](const QString& t) { return re.match(t).hasMatch(); });
    }
    QProgressBar* bar;
    QLabel* monitor;
    QTimer timer;
    QList<int> values;
    QStringList texts;
    QStringList titles;  // the window's, which carries the rip's percentage
};

// The title's picture count, as ffprobe counts the source.
QString titleFrames(const QString& vob) { return probeVideo(vob).section(QLatin1Char(','), 3, 3); }

// Only the Rip button (reading Cancel) and closing are live while ripping.
void checkRippingState(Window& w) {
    QVERIFY(w.window().ripRunning());
    QVERIFY(w.ripButton()->isEnabled());
    QCOMPARE(w.ripButton()->text(), QStringLiteral("Cancel"));
    for (const char* name : {"openDvdButton", "openIfoButton", "removeButton", "browseButton",
                             "settingButton", "configureButton"})
        QVERIFY2(!w.child<QPushButton>(name)->isEnabled(), name);
    QVERIFY(!w.list("formatList")->isEnabled());
    QVERIFY(!w.list("indexList")->isEnabled());
    QVERIFY(!w.fileList()->isEnabled());
    QVERIFY(!w.child<QLineEdit>("outputFolder")->isEnabled());
    QVERIFY(!w.child<QAction>("STR_MAIN_MENU_FILE_OpenDVD")->isEnabled());
    QVERIFY(w.child<QAction>("quitAction")->isEnabled());
}

void checkIdleState(Window& w) {
    QVERIFY(!w.window().ripRunning());
    QVERIFY(w.ripButton()->isEnabled());
    QCOMPARE(w.ripButton()->text(), QStringLiteral("Rip Now"));
    QVERIFY(w.child<QPushButton>("openDvdButton")->isEnabled());
    QVERIFY(w.list("formatList")->isEnabled());
    QVERIFY(w.fileList()->isEnabled());
    QCOMPARE(w.child<QProgressBar>("progressBar")->value(), 100);
}

}  // namespace

class RipWindowTest : public QObject {
    Q_OBJECT
private slots:
    void ripVcdWritesTheTitle();
    void ripAviUncompressedWritesTheTitle();
    void cancelAnsweredNoRipsOnWithTheRowUnchanged();
    void cancelAnsweredYesStopsWithAReadableFile();
    void closingIsRefusedWhileRipping();
    void endingTheProgramStopsARunningRip();
    void switchingOffWhenDoneAsksFirst();
    void windowAnswersWhileRipping();
};

void RipWindowTest::ripVcdWritesTheTitle() {
    REQUIRE_FFPROBE();
    Sandbox box;
    Window w(box);
    w.openDvd(sampleDisc());
    w.choose("formatList", kVcdPal);
    Watch watch(w);
    bool checked = false;
    connect(&w.window(), &MainWindow::ripStarted, [&] {
        checkRippingState(w);
        checked = true;
    });
    QVERIFY(w.ripAndWait());
    QVERIFY(checked);
    checkIdleState(w);
    QCOMPARE(w.dlg().rowsCompleted(), 1);
    const QString frames = titleFrames(sampleDisc() + "/VTS_01_1.VOB");
    QCOMPARE(probeVideo(QString::fromStdString(box.outDir() + "Title_0.mpg")),
             QStringLiteral("mpeg1video,352,288,") + frames);
    QVERIFY2(std::any_of(watch.values.begin(), watch.values.end(), [](int v) { return v < 100; }),
             "the progress bar never moved");
    QVERIFY2(watch.sawTitle(QStringLiteral("% - Zembra")), qPrintable(watch.titles.join('|')));
    QCOMPARE(w.window().windowTitle(), QStringLiteral("Zembra"));
    QVERIFY2(watch.sawText(
                 QStringLiteral("^None \\d+ Frames, Total Encoding Time: \\d\\d:\\d\\d:\\d\\d$")),
             qPrintable(watch.texts.join(QLatin1Char('|'))));
}

void RipWindowTest::ripAviUncompressedWritesTheTitle() {
    REQUIRE_FFPROBE();
    // Sound as WAV, and the source's 25 pictures a second kept.
    Sandbox box("DoAVIAudio=1\n[Zembra_InputSettings]\nFrameRate=2\n");
    Window w(box);
    w.openDvd(sampleDisc());
    w.choose("formatList", kFormatAvi);
    AviChoices choices;
    choices.videoCodec = "Uncompressed RGB";
    const std::string refused = w.session.engines().applyAviChoices(choices);
    QVERIFY2(refused.empty(), refused.c_str());
    const OutputSettings& out = w.session.app().settings().output;
    const QString size = QStringLiteral("%1,%2").arg(out.width).arg(out.height);
    QVERIFY(w.ripAndWait());
    QCOMPARE(w.dlg().rowsCompleted(), 1);
    const QString frames = titleFrames(sampleDisc() + "/VTS_01_1.VOB");
    QCOMPARE(probeVideo(QString::fromStdString(box.outDir() + "Title_0.avi")),
             QStringLiteral("rawvideo,") + size + QLatin1Char(',') + frames);
}

void RipWindowTest::cancelAnsweredNoRipsOnWithTheRowUnchanged() {
    REQUIRE_FFPROBE();
    const QString disc = longDisc();
    if (disc.isEmpty()) QSKIP("the longer test disc could not be made");
    Sandbox box;
    Window w(box);
    w.openDvd(disc);
    w.choose("formatList", kDvdPalHigh);
    const OutputSettings before = w.dlg().item(0)->output;
    Watch watch(w);
    QString question;
    connect(&w.window(), &MainWindow::ripStarted, [&] {
        QTimer::singleShot(300, [&] {
            answerNextBox(QMessageBox::No, &question);
            w.ripButton()->click();
        });
    });
    QVERIFY(w.ripAndWait());
    QCOMPARE(question, QStringLiteral("Stop process ?"));
    QCOMPARE(w.dlg().rowsCompleted(), 1);
    const OutputSettings& after = w.dlg().item(0)->output;
    QCOMPARE(after.formatIndex, kDvdPalHigh);
    QCOMPARE(after.mpegStream, before.mpegStream);
    QCOMPARE(after.width, before.width);
    QCOMPARE(after.height, before.height);
    QCOMPARE(after.videoBitRate, before.videoBitRate);
    QCOMPARE(probeVideo(QString::fromStdString(box.outDir() + "Title_0.mpg")),
             QStringLiteral("mpeg2video,%1,%2,").arg(before.width).arg(before.height) +
                 titleFrames(disc + "/VTS_01_1.VOB"));
    QVERIFY2(watch.sawText(QStringLiteral("^Used Size: ")),
             qPrintable(watch.texts.join(QLatin1Char('|'))));
    checkIdleState(w);
}

void RipWindowTest::cancelAnsweredYesStopsWithAReadableFile() {
    REQUIRE_FFPROBE();
    const QString disc = longDisc();
    if (disc.isEmpty()) QSKIP("the longer test disc could not be made");
    Sandbox box;
    Window w(box);
    w.openDvd(disc);
    w.choose("formatList", kDvdPalHigh);
    bool unwinding = false;
    // Cancelled once some pictures are on disk, not after a fixed time: on a
    // busy machine the rip may not have written anything 300 ms in, and a
    // piece stopped before its first picture is rightly removed.
    const QString output = QString::fromStdString(box.outDir() + "Title_0.mpg");
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
        if (QFileInfo(output).size() < 256 * 1024) return;
        poll.stop();
        answerNextBox(QMessageBox::Yes);
        w.ripButton()->click();
        // Stopped but not yet ended: nothing is live, not even Cancel.
        unwinding = !w.window().ripRunning() || !w.ripButton()->isEnabled();
    });
    QMetaObject::Connection once;
    once = connect(&w.window(), &MainWindow::ripStarted, [&] {
        disconnect(once);
        poll.start();
    });
    QVERIFY(w.ripAndWait());
    QVERIFY(unwinding);
    QCOMPARE(w.dlg().rowsCompleted(), 0);
    checkIdleState(w);
    const QString video = probeVideo(QString::fromStdString(box.outDir() + "Title_0.mpg"));
    QVERIFY2(video.startsWith(QStringLiteral("mpeg2video,720,576,")), qPrintable(video));
    const int written = video.section(QLatin1Char(','), 3, 3).toInt();
    QVERIFY2(written > 0 && written < titleFrames(disc + "/VTS_01_1.VOB").toInt(),
             qPrintable(video));
    // The window rips again after a stop.
    w.choose("formatList", kVcdPal);
    QVERIFY(w.ripAndWait());
    QCOMPARE(w.dlg().rowsCompleted(), 1);
}

void RipWindowTest::closingIsRefusedWhileRipping() {
    Sandbox box;
    Window w(box);
    w.openDvd(sampleDisc());
    w.choose("formatList", kDvdPalHigh);
    QString warning;
    bool stillOpen = false;
    connect(&w.window(), &MainWindow::ripStarted, [&] {
        answerNextBox(QMessageBox::Ok, &warning);
        w.child<QAction>("quitAction")->trigger();
        stillOpen = w.window().isVisible();
    });
    QVERIFY(w.ripAndWait());
    QCOMPARE(warning, QStringLiteral("Stop encoder before exiting."));
    QVERIFY(stillOpen);
    QVERIFY(w.window().isVisible());
    QVERIFY(w.window().close());
}

// The program ending under a rip (the session logging out, a signal): the
// rip stops and the program ends, without a box nobody would answer.
void RipWindowTest::endingTheProgramStopsARunningRip() {
    REQUIRE_FFPROBE();
    const QString disc = longDisc();
    if (disc.isEmpty()) QSKIP("the longer test disc could not be made");
    Sandbox box;
    auto w = std::make_unique<Window>(box);
    w->openDvd(disc);
    w->choose("formatList", kDvdPalHigh);
    w->ripButton()->click();
    QVERIFY(w->window().ripRunning());
    // Ended once some pictures are on disk, not after a fixed time: on a busy
    // machine the rip may have written nothing 300 ms in, and a piece stopped
    // before its first picture is rightly removed.
    const QString output = QString::fromStdString(box.outDir() + "Title_0.mpg");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(output).size() >= 256 * 1024, 20000);
    QElapsedTimer clock;
    clock.start();
    w.reset();
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    const QString video = probeVideo(output);
    QVERIFY2(video.startsWith(QStringLiteral("mpeg2video,720,576,")), qPrintable(video));
}

// "Switch Off When Done" is a check item; after the rip a countdown gives the
// user the last word before the computer goes off.
void RipWindowTest::switchingOffWhenDoneAsksFirst() {
    Sandbox box;
    const QString log = QString::fromStdString(box.root() + "shutdown.log");
    const QByteArray previous = qgetenv("ZEMBRA_SHUTDOWN_COMMAND");
    qputenv("ZEMBRA_SHUTDOWN_COMMAND", "echo called >> '" + log.toUtf8() + "'");
    Window w(box);
    w.openDvd(sampleDisc());
    w.choose("formatList", kVcdPal);
    QAction* switchOff = w.child<QAction>("STR_MAIN_MENU_SETTING_ShutDown");
    QVERIFY(!switchOff->isChecked());
    switchOff->trigger();
    QVERIFY(w.session.app().settings().input.shutDown);
    QVERIFY(w.dlg().item(0)->input.shutDown);
    for (bool now : {false, true}) {
        bool asked = false;
        onNextModal([&](QWidget* m) {
            auto* countdown = qobject_cast<ShutdownCountdown*>(m);
            QVERIFY(countdown);
            asked = true;
            (now ? countdown->nowButton() : countdown->cancelButton())->click();
        });
        QVERIFY(w.ripAndWait());
        QTRY_VERIFY(asked);
        QCOMPARE(QFile::exists(log), now);
    }
    qputenv("ZEMBRA_SHUTDOWN_COMMAND", previous);
    QVERIFY(switchOff->isChecked());
}

// The rip runs on its own thread: the window's event loop must never stall
// for as long as a user would notice a frozen window.
void RipWindowTest::windowAnswersWhileRipping() {
    Sandbox box("MotionSearch=3\n");
    Window w(box);
    w.openDvd(sampleDisc());
    w.choose("formatList", kDvdPalHigh);
    QCOMPARE(w.session.app().settings().output.motionSearch, 3);
    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    int ticks = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0) longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    connect(&w.window(), &MainWindow::ripStarted, [&] {
        clock.start();
        probe.start(2);
    });
    QVERIFY(w.ripAndWait());
    probe.stop();
    QCOMPARE(w.dlg().rowsCompleted(), 1);
    qInfo("longest gap between two handled events during the rip: %lld ms (%d ticks in %lld ms)",
          longest, ticks, clock.elapsed());
    QVERIFY(ticks > 10);
    QVERIFY2(longest < 100, qPrintable(QString::number(longest)));
}

QTEST_MAIN(RipWindowTest)
#include "rip_window_test.moc"

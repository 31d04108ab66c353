#pragma once
// Fixtures of the window tests: a program folder of their own for each test
// (language files copied, options.ini written there, an output folder), the
// window built as zembra-gui builds it, modal boxes answered from a timer,
// and ffprobe as the outside judge of what a rip wrote.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/encode_dlg.h"
#include "gui/main_window.h"
#include "gui/qt_main_view.h"
#include "gui/session.h"

namespace zembra::gui::testing {

inline QString sampleDisc() { return QStringLiteral(ZEMBRA_SOURCE_DIR "/samples/VIDEO_TS"); }

// A program folder with langs/ and an options.ini, and an output folder.
class Sandbox {
public:
    explicit Sandbox(const std::string& options = {}) {
        namespace fs = std::filesystem;
        fs::create_directories(programDir());
        fs::copy(fs::path(ZEMBRA_SOURCE_DIR) / "langs", fs::path(programDir()) / "langs",
                 fs::copy_options::recursive);
        fs::create_directories(outDir());
        std::ofstream ini(programDir() + "options.ini");
        ini << "[Zembra_App]\nOutputPath=" << outDir() << "\n"
            << "[Zembra_OutputSettings]\nOverWrite=1\n"
            << options;
    }
    std::string root() const { return dir_.path().toStdString() + "/"; }
    std::string programDir() const { return root() + "prog/"; }
    std::string outDir() const { return root() + "out/"; }
    std::string optionsFile() const { return programDir() + "options.ini"; }

private:
    QTemporaryDir dir_;
};

// The window of a sandbox, shown, with the choosers answered by the test.
struct Window {
    explicit Window(const Sandbox& box)
        : session(box.programDir(), QString::fromStdString(box.root() + "window.conf")) {
        session.view().setFolderChooser([this](const std::string&) { return nextFolder; });
        session.view().setFilesChooser([this](const std::string&, const std::string&,
                                              const std::string&) { return nextFiles; });
        window().resize(900, 700);
        window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }
    MainWindow& window() { return session.window(); }
    EncodeDlg& dlg() { return session.controller(); }
    template <typename T>
    T* child(const char* name) {
        return window().findChild<T*>(QLatin1String(name));
    }
    QTreeWidget* fileList() { return child<QTreeWidget>("fileList"); }
    QPushButton* ripButton() { return child<QPushButton>("ripButton"); }
    QComboBox* list(const char* name) { return child<QComboBox>(name); }

    // Open DVD as the user does it: the button, then the folder chooser.
    void openDvd(const QString& folder) {
        nextFolder = folder.toStdString();
        child<QPushButton>("openDvdButton")->click();
        waitForOpen();
    }
    // An Open runs beside the window; its rows are there once it has ended.
    void waitForOpen() { QTRY_VERIFY_WITH_TIMEOUT(!window().jobRunning(), 60000); }
    // A user's choice in a list: the entry becomes current and `activated` fires.
    void choose(const char* name, int index) {
        QComboBox* box = list(name);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    // Presses Rip Now and waits until the rip has ended.
    bool ripAndWait(int timeoutMs = 120000) {
        QSignalSpy ended(&window(), &MainWindow::ripEnded);
        ripButton()->click();
        return ended.wait(timeoutMs) || ended.count() > 0;
    }

    Session session;
    std::optional<std::string> nextFolder;
    std::vector<std::string> nextFiles;
};

// Answers the next message box with `button` as soon as it is shown;
// `seen` receives its text.
inline void answerNextBox(QMessageBox::StandardButton button, QString* seen = nullptr,
                          int timeoutMs = 60000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box) {
            if (seen) *seen = box->text();
            if (QAbstractButton* b = box->button(button)) b->click();
        }
        if (box || clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
        }
    });
    timer->start(10);
}

// Runs `act` on the next modal window as soon as it is shown; a window
// `act` leaves open is rejected, so that a failed check cannot hang the test.
inline void onNextModal(std::function<void(QWidget*)> act, int triesLeft = 500) {
    QTimer::singleShot(10, [act, triesLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            act(modal);
            if (modal->isVisible()) QMetaObject::invokeMethod(modal, "reject");
        } else if (triesLeft > 0) {
            onNextModal(act, triesLeft - 1);
        }
    });
}

// One stream of a file as ffprobe reads it: "codec,width,height,frames".
inline QString probeVideo(const QString& file) {
    QProcess p;
    p.start(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
         QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,width,height,nb_read_frames"), QStringLiteral("-of"),
         QStringLiteral("csv=p=0"), file});
    if (!p.waitForFinished(60000)) return {};
    // The first stream's line, without the empty fields some streams add.
    return QString::fromUtf8(p.readAllStandardOutput())
        .section(QLatin1Char('\n'), 0, 0)
        .section(QLatin1Char(','), 0, 3);
}

inline bool haveFfprobe() { return !QStandardPaths::findExecutable("ffprobe").isEmpty(); }

#define REQUIRE_FFPROBE()                                                  \
    do {                                                                   \
        if (!zembra::gui::testing::haveFfprobe()) {                        \
            if (qEnvironmentVariableIsSet("CI")) QFAIL("ffprobe missing"); \
            QSKIP("ffprobe missing");                                      \
        }                                                                  \
    } while (0)

// A longer disc made by the project's script (cached in the build tree).
inline QString longDisc() {
    const QString out = QStringLiteral(ZEMBRA_BINARY_DIR "/test-discs/gui-long");
    QProcess p;
    p.start(QStringLiteral(ZEMBRA_SOURCE_DIR "/tools/make-test-disc.sh"),
            {QStringLiteral("--out"), out, QStringLiteral("--seconds"), QStringLiteral("40")});
    if (!p.waitForFinished(300000) || p.exitCode() != 0) return {};
    return out + QStringLiteral("/VIDEO_TS");
}

}  // namespace zembra::gui::testing

// The window's desktop pieces: drag and drop, what it remembers, the
// logind lock and the notification (against stand-ins on a private bus),
// the shutdown countdown, Qt's translations, help and icons.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVariantMap>

#include "gui/desktop/app_icon.h"
#include "gui/desktop/desktop_application.h"
#include "gui/desktop/desktop_notifier.h"
#include "gui/desktop/desktop_texts.h"
#include "gui/desktop/disc_sources.h"
#include "gui/desktop/dropped_sources.h"
#include "gui/desktop/help_page.h"
#include "gui/desktop/launcher_progress.h"
#include "gui/desktop/qt_translations.h"
#include "gui/desktop/shutdown_countdown.h"
#include "gui/desktop/suspend_inhibitor.h"
#include "gui/desktop/window_memory.h"
#include "gui/desktop/window_title.h"
#include "platform/string_table.h"

using namespace zembra;
using namespace zembra::gui;

namespace {

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// A bus of our own (dbus-daemon), so the stand-ins for logind and the
// notification service never meet the machine's real ones.
class PrivateBus {
public:
    bool start() {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                       QStringLiteral("--address=unix:tmpdir=") + QDir::tempPath()});
        if (!daemon_.waitForStarted(5000)) return false;
        while (!daemon_.canReadLine())
            if (!daemon_.waitForReadyRead(5000)) return false;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return !address_.isEmpty();
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    QDBusConnection connect(const QString& name) {
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// True once every copy of the pipe's write end is closed.
bool writeEndClosed(int readEnd) {
    pollfd p{readEnd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    char c;
    return ::read(readEnd, &c, 1) == 0;
}

}  // namespace

// Stands in for logind: lends the write end of a pipe as the lock, so the
// test sees the lock end when the read end reaches end of file.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogind() override {
        if (readEnd >= 0) ::close(readEnd);
    }
    QStringList arguments;
    int readEnd = -1;
    int calls = 0;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        ++calls;
        arguments = {what, who, why, mode};
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {};
        if (readEnd >= 0) ::close(readEnd);
        readEnd = fds[0];
        QDBusUnixFileDescriptor lock(fds[1]);  // keeps a copy of its own
        ::close(fds[1]);
        return lock;
    }
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QVariantList arguments;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        arguments = {app, replaces, icon, summary, body, actions, hints, timeout};
        return 7;
    }
};

class LauncherListener : public QObject {
    Q_OBJECT
public:
    QList<QPair<double, bool>> updates;
    QString application;

public slots:
    void update(const QString& app, const QVariantMap& properties) {
        application = app;
        updates.append({properties.value("progress").toDouble(),
                        properties.value("progress-visible").toBool()});
    }
};

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

    void textsNeverTakeALanguageFileAsAFormat() {
        // A translator's stray "%s" or "%n" must not reach a printf.
        QCOMPARE(withNumber(QStringLiteral("%s %n %d of %d"), 3), QStringLiteral("%s %n 3 of %d"));
        QCOMPARE(withNumber(QStringLiteral("no number"), 3), QStringLiteral("no number"));
        QCOMPARE(progressWindowTitle(QStringLiteral("Zembra"), 42, true),
                 QStringLiteral("42% - Zembra"));
        QCOMPARE(progressWindowTitle(QStringLiteral("Zembra"), 130, true),
                 QStringLiteral("100% - Zembra"));
        QCOMPARE(progressWindowTitle(QStringLiteral("Zembra"), 100, false),
                 QStringLiteral("Zembra"));
    }

    void dropsAndArgumentsNameTheirOpenCommand() {
        QTemporaryDir tmp;
        const QString root = tmp.path();
        QDir().mkpath(root + "/DISC/VIDEO_TS");
        touch(root + "/movie.ISO");
        touch(root + "/VTS_01_0.IFO");
        touch(root + "/VTS_01_1.VOB");

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(root + "/DISC/"),
                      QUrl::fromLocalFile(root + "/movie.ISO"),
                      QUrl(QStringLiteral("https://example.org/a.iso")),
                      QUrl::fromLocalFile(root + "/VTS_01_0.IFO"),
                      QUrl::fromLocalFile(root + "/VTS_01_1.VOB")});
        auto dropped = droppedSources(&mime);
        QCOMPARE(dropped.size(), size_t(4));  // the web address is left out
        const std::string base = QFile::encodeName(root).toStdString();
        QCOMPARE(dropped[0].path, base + "/DISC");
        QVERIFY(dropped[0].kind == SourceKind::Dvd);
        QVERIFY(dropped[1].kind == SourceKind::Dvd);
        QVERIFY(dropped[2].kind == SourceKind::Ifo);
        QVERIFY(dropped[3].kind == SourceKind::Vob);

        QMimeData text;
        text.setText(QStringLiteral("just words"));
        QVERIFY(droppedSources(&text).empty());
        QVERIFY(droppedSources(nullptr).empty());

        // The desktop passes paths (%F), a terminal relative ones.
        const QString old = QDir::currentPath();
        QDir::setCurrent(root);
        auto args = argumentSources({QStringLiteral("--verbose"), QStringLiteral("DISC"),
                                     QUrl::fromLocalFile(root + "/VTS_01_0.IFO").toString(),
                                     QString(), QStringLiteral("smb://host/share/x.vob")});
        QDir::setCurrent(old);
        QCOMPARE(args.size(), size_t(2));
        QCOMPARE(args[0].path, base + "/DISC");
        QVERIFY(args[0].kind == SourceKind::Dvd);
        QCOMPARE(args[1].path, base + "/VTS_01_0.IFO");
        QVERIFY(args[1].kind == SourceKind::Ifo);
    }

    void discImagesAndDrivesAFolderChooserCannotPick() {
        StringTable strings;
        const QString filter = discImageNameFilter(strings);
        QVERIFY(filter.startsWith(QStringLiteral("Disc Images (")));
        for (const char* pattern : {"*.iso", "*.ISO", "*.nrg", "*.MDF"})
            QVERIFY2(filter.contains(QLatin1String(pattern)), pattern);

        QTemporaryDir sys;
        auto write = [&](const QString& name, const QByteArray& text) {
            touch(sys.filePath(name));
            QFile file(sys.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        write("block/sr0/device/vendor", "HL-DT-ST\n");
        write("block/sr0/device/model", "DVDRAM GH24NSD1  \n");
        write("block/sr0/size", "0\n");
        write("block/sr10/size", "4194304\n");
        write("block/sr2/size", "8\n");
        write("block/sda/size", "100\n");
        const auto drives = opticalDrives(sys.path(), QStringLiteral("/dev"));
        QCOMPARE(drives.size(), 3);
        QCOMPARE(drives[0].device, QStringLiteral("/dev/sr0"));
        QCOMPARE(drives[0].name, QStringLiteral("HL-DT-ST DVDRAM GH24NSD1"));
        QVERIFY(!drives[0].hasDisc);
        QCOMPARE(drives[1].device, QStringLiteral("/dev/sr2"));
        QCOMPARE(drives[2].device, QStringLiteral("/dev/sr10"));
        QCOMPARE(drives[2].name, QStringLiteral("sr10"));
        QVERIFY(drives[2].hasDisc);
        QVERIFY(opticalDrives(sys.filePath("none")).isEmpty());
    }

    void windowMemoryRoundTripsInItsOwnFile() {
        const QString file = WindowMemory::defaultFile();
        QCOMPARE(file, config_.path() + "/zembra/window.conf");
        QTemporaryDir tmp;
        const QString folders = tmp.path();
        QList<int> savedSizes;
        QDir().mkpath(folders + "/dvd/VIDEO_TS");
        touch(folders + "/ifo/VTS_01_0.IFO");
        {
            QMainWindow window;
            QSplitter splitter(Qt::Vertical);
            splitter.addWidget(new QWidget);
            splitter.addWidget(new QWidget);
            splitter.resize(200, 400);
            splitter.setSizes({300, 100});
            QStandardItemModel model(0, 4);
            QTreeView list;
            list.setModel(&model);
            list.header()->resizeSection(0, 210);
            list.header()->resizeSection(3, 90);
            window.resize(720, 540);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));

            WindowMemory memory;
            memory.saveWindow(window);
            memory.saveColumns(*list.header());
            memory.saveSplitter(splitter);
            savedSizes = splitter.sizes();
            memory.setLastFolder(WindowMemory::Folder::Dvd, folders + "/dvd/VIDEO_TS");
            memory.setLastFolder(WindowMemory::Folder::Ifo, folders + "/ifo/VTS_01_0.IFO");
            memory.setLastFolder(WindowMemory::Folder::Output, folders + "/out/gone/deeper");
            QVERIFY(memory.sync());
        }
        QVERIFY(QFileInfo::exists(file));
        QVERIFY(!QFileInfo::exists(config_.path() + "/zembra/options.ini"));
        QVERIFY(!savedSizes.isEmpty());

        WindowMemory memory;
        QMainWindow window;
        QVERIFY(memory.restoreWindow(window));
        QCOMPARE(window.size(), QSize(720, 540));
        QStandardItemModel model(0, 3);  // a column fewer than saved
        QTreeView list;
        list.setModel(&model);
        QVERIFY(memory.restoreColumns(*list.header()));
        QCOMPARE(list.header()->sectionSize(0), 210);
        QSplitter splitter(Qt::Vertical);
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        splitter.resize(200, 400);
        QVERIFY(memory.restoreSplitter(splitter));
        QCOMPARE(splitter.sizes(), savedSizes);

        QCOMPARE(memory.lastFolder(WindowMemory::Folder::Dvd), folders + "/dvd/VIDEO_TS");
        QCOMPARE(memory.lastFolder(WindowMemory::Folder::Ifo), folders + "/ifo");
        // Gone since: the nearest folder above it that is still there.
        QCOMPARE(memory.lastFolder(WindowMemory::Folder::Output), folders);
        QCOMPARE(memory.lastFolder(WindowMemory::Folder::Vob), QString());
    }

    void windowMemoryIgnoresWidthsNoWindowSaved() {
        QTemporaryDir tmp;
        const QString file = tmp.filePath("window.conf");
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[FileList]\ncolumns=0, -5, abc, 99999999, 120\n");
        }
        WindowMemory memory(file);
        QStandardItemModel model(0, 5);
        QTreeView list;
        list.setModel(&model);
        const int before = list.header()->sectionSize(0);
        QVERIFY(memory.restoreColumns(*list.header()));
        for (int i = 0; i < 4; ++i) QCOMPARE(list.header()->sectionSize(i), before);
        QCOMPARE(list.header()->sectionSize(4), 120);
        QMainWindow window;
        QVERIFY(!memory.restoreWindow(window));
    }

    void inhibitorWithoutABusStaysQuiet() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        SuspendInhibitor inhibitor(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/zembra-bus"), QStringLiteral("no-bus")));
        inhibitor.acquire(QStringLiteral("Converting a DVD"));
        QTest::qWait(50);
        QVERIFY(!inhibitor.held());
        inhibitor.release();
        QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
        // The machine's own buses, whether there are any or not (on a
        // desktop the lock is taken and given back at once).
        SuspendInhibitor system;
        system.acquire(QStringLiteral("Converting a DVD"));
        QTest::qWait(50);
        system.release();
        DesktopNotifier session;
    }

    void inhibitorHoldsLogindsLockUntilReleased() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("no dbus-daemon");
        PrivateBus bus;
        QVERIFY(bus.start());
        QDBusConnection service = bus.connect(QStringLiteral("logind"));
        FakeLogind logind;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                       QDBusConnection::ExportAllSlots));

        // On a bus where logind is missing: nothing, and no complaint.
        {
            QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
            SuspendInhibitor inhibitor(bus.connect(QStringLiteral("client-early")));
            inhibitor.acquire(QStringLiteral("r"));
            QTest::qWait(200);
            QVERIFY(!inhibitor.held());
        }
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));

        SuspendInhibitor inhibitor(bus.connect(QStringLiteral("client")));
        QSignalSpy acquired(&inhibitor, &SuspendInhibitor::acquired);
        inhibitor.acquire(QStringLiteral("Converting a DVD"));
        inhibitor.acquire(QStringLiteral("Converting a DVD"));  // asked once only
        QVERIFY(acquired.wait(5000));
        QVERIFY(inhibitor.held());
        QCOMPARE(logind.calls, 1);
        QCOMPARE(logind.arguments,
                 QStringList({"sleep:idle", "Zembra", "Converting a DVD", "block"}));
        QTest::qWait(50);
        QVERIFY(!writeEndClosed(logind.readEnd));
        inhibitor.release();
        QTRY_VERIFY(writeEndClosed(logind.readEnd));

        // Released before logind answered: the lock that comes is let go.
        inhibitor.acquire(QStringLiteral("again"));
        inhibitor.release();
        QTRY_COMPARE(logind.calls, 2);
        QTRY_VERIFY(writeEndClosed(logind.readEnd));
        QVERIFY(!inhibitor.held());
    }

    void notificationTellsHowManyTitles() {
        StringTable strings;
        QCOMPARE(DesktopNotifier::bodyText(strings, 1), QStringLiteral("1 title ripped."));
        QCOMPARE(DesktopNotifier::bodyText(strings, 0), QStringLiteral("0 titles ripped."));
        DesktopNotifier nobody(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/zembra-bus"), QStringLiteral("no-bus-2")));
        QVERIFY(!nobody.ripEnded(strings, 2, false));
        QDBusConnection::disconnectFromBus(QStringLiteral("no-bus-2"));

        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("no dbus-daemon");
        PrivateBus bus;
        QVERIFY(bus.start());
        QDBusConnection service = bus.connect(QStringLiteral("notifications"));
        FakeNotifications fake;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
        DesktopNotifier notifier(bus.connect(QStringLiteral("client")));
        QVERIFY(notifier.ripEnded(strings, 3, false));
        QTRY_VERIFY(!fake.arguments.isEmpty());
        QCOMPARE(fake.arguments.value(0).toString(), QStringLiteral("Zembra"));
        QCOMPARE(fake.arguments.value(3).toString(), QStringLiteral("Rip finished"));
        QCOMPARE(fake.arguments.value(4).toString(), QStringLiteral("3 titles ripped."));
        fake.arguments.clear();
        QVERIFY(notifier.ripEnded(strings, 1, true));
        QTRY_VERIFY(!fake.arguments.isEmpty());
        QCOMPARE(fake.arguments.value(3).toString(), QStringLiteral("Rip cancelled"));
    }

    void launcherShowsProgressWhenItChanges() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("no dbus-daemon");
        PrivateBus bus;
        QVERIFY(bus.start());
        LauncherListener listener;
        QVERIFY(
            bus.connect(QStringLiteral("dock"))
                .connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                         QStringLiteral("Update"), &listener, SLOT(update(QString, QVariantMap))));
        {
            LauncherProgress launcher(bus.connect(QStringLiteral("window")));
            launcher.show(10, true);
            launcher.show(10, true);  // unchanged: not sent again
            launcher.show(55, true);
            launcher.show(100, false);
            launcher.show(100, false);
            launcher.show(20, true);
        }  // still busy when the window goes: the bar is taken off
        QTRY_COMPARE(listener.updates.size(), 5);
        QCOMPARE(listener.application, QStringLiteral("application://zembra.desktop"));
        const QList<QPair<double, bool>> expected = {
            {0.10, true}, {0.55, true}, {0.0, false}, {0.20, true}, {0.0, false}};
        QCOMPARE(listener.updates, expected);
    }

    void countdownGoesOnUnlessCancelled() {
        StringTable strings;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(ShutdownCountdown::confirm(strings, nullptr, 1));
        QVERIFY(clock.elapsed() >= 900);

        QTimer::singleShot(200, [] {
            auto* dialog = qobject_cast<ShutdownCountdown*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QVERIFY(dialog->cancelButton()->isDefault());
            QCOMPARE(dialog->secondsLeft(), 30);
            dialog->cancelButton()->click();
        });
        QVERIFY(!ShutdownCountdown::confirm(strings, nullptr));

        // Esc and closing the dialog keep the computer on as well.
        QTimer::singleShot(
            200, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
        QVERIFY(!ShutdownCountdown::confirm(strings, nullptr, 5));
        QTimer::singleShot(200, [] { QApplication::activeModalWidget()->close(); });
        QVERIFY(!ShutdownCountdown::confirm(strings, nullptr, 5));

        ShutdownCountdown dialog(strings, 3);
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.secondsLeft(), 2, 2000);
        QVERIFY(dialog.isVisible());
    }

    void qtTranslationFollowsTheLanguage() {
        QCOMPARE(languageCode(QStringLiteral("Deutsch.ini")), QStringLiteral("de"));
        QCOMPARE(languageCode(QStringLiteral("/x/langs/deutsch.INI")), QStringLiteral("de"));
        QCOMPARE(languageCode(QStringLiteral("English.ini")), QString());
        QCOMPARE(languageCode(QStringLiteral("pt_BR.ini")), QStringLiteral("pt_BR"));
        QCOMPARE(languageCode(QStringLiteral("Klingon.ini")), QString());
        QCOMPARE(languageCode(QStringLiteral("Français.ini")), QStringLiteral("fr"));

        const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (!QFileInfo::exists(folder + "/qtbase_de.qm"))
            QSKIP("Qt's German translation is not installed (qt6-translations-l10n)");
        auto cancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
        {
            QtTranslations qt;
            QVERIFY(qt.switchTo(QStringLiteral("Deutsch.ini")));
            QCOMPARE(cancel(), QStringLiteral("Abbrechen"));
            QVERIFY(!qt.switchTo(QStringLiteral("English.ini")));
            QCOMPARE(cancel(), QStringLiteral("Cancel"));
            QVERIFY(qt.switchTo(QStringLiteral("Deutsch.ini")));
        }
        QCOMPARE(cancel(), QStringLiteral("Cancel"));  // gone with its owner
        QtTranslations nowhere(QStringLiteral("/nonexistent"));
        QVERIFY(!nowhere.switchTo(QStringLiteral("Deutsch.ini")));
    }

    void helpPageForTheLanguageThenTheReadme() {
        QTemporaryDir tmp;
        const QString program = tmp.path() + "/bin/";
        const QString readme = tmp.path() + "/README.md";
        QCOMPARE(findHelpPage(program, "English.ini", readme), QString());
        touch(readme);
        QCOMPARE(findHelpPage(program, "English.ini", readme), readme);
        touch(tmp.path() + "/share/zembra/help/index.html");  // installed under a prefix
        QCOMPARE(findHelpPage(program, "Deutsch.ini", readme),
                 tmp.path() + "/share/zembra/help/index.html");
        touch(program + "share/help/index.html");
        touch(program + "share/help/index.de.html");
        QCOMPARE(findHelpPage(program, "English.ini", readme), program + "share/help/index.html");
        QCOMPARE(findHelpPage(program, "Deutsch.ini", readme),
                 program + "share/help/index.de.html");

        // What the build copies beside the program.
        const QString source = QStringLiteral(ZEMBRA_SOURCE_DIR);
        QCOMPARE(findHelpPage(source + "/", "Deutsch.ini"), source + "/share/help/index.de.html");
        QTemporaryDir bare;
        QCOMPARE(findHelpPage(bare.path() + "/bin", "English.ini"), source + "/README.md");
    }

    void iconAndLogoAreBuiltIn() {
        const QIcon icon = appIcon();
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(48, 48).isNull());
        QPixmap logo = logoPixmap(QSize(400, 300));
        QCOMPARE(logo.size(), QSize(150, 150));
        QVERIFY(logo.toImage().pixelColor(75, 75).alpha() > 0);  // drawn, not blank
        QCOMPARE(logoPixmap(QSize(1200, 1000), 2.0).size(), QSize(512, 512));
        QCOMPARE(logoPixmap(QSize(1200, 1000), 2.0).deviceIndependentSize(), QSizeF(256, 256));
        QVERIFY(logoPixmap(QSize(0, 300)).isNull());

        introduceToDesktop(*qApp);
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("zembra"));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    void desktopFileAndIconsShipped() {
        const QString share = QStringLiteral(ZEMBRA_SOURCE_DIR "/share");
        QCOMPARE(QImage(share + "/icons/hicolor/48x48/apps/zembra.png").size(), QSize(48, 48));
        QCOMPARE(QImage(share + "/icons/hicolor/256x256/apps/zembra.png").size(), QSize(256, 256));
        QVERIFY(QFileInfo::exists(share + "/icons/hicolor/scalable/apps/zembra.svg"));
        const QString desktop = share + "/applications/zembra.desktop";
        QFile file(desktop);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(QStringLiteral("\nExec=zembra-gui %F\n")));
        QVERIFY(text.contains(QStringLiteral("\nIcon=zembra\n")));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty()) QSKIP("desktop-file-validate is not installed");
        QProcess validate;
        validate.start(validator, {desktop});
        QVERIFY(validate.waitForFinished(10000));
        QCOMPARE(validate.readAllStandardOutput() + validate.readAllStandardError(), QByteArray());
        QCOMPARE(validate.exitCode(), 0);
    }

private:
    QTemporaryDir config_;
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"

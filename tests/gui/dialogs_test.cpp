// The settings dialogs driven as a user would: fields changed, OK or Cancel
// pressed, modal boxes and file choosers answered from a timer.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/engines/engine_set.h"
#include "app/settings_store.h"
#include "avi/codecs/mp3_library.h"
#include "avi/codecs/video_compressor.h"
#include "avi/codecs/xvid_settings.h"
#include "gui/dialogs/about_dialog.h"
#include "gui/dialogs/audio_format_dialog.h"
#include "gui/dialogs/avi_tab.h"
#include "gui/dialogs/codec_settings_dialog.h"
#include "gui/dialogs/crop_dialog.h"
#include "gui/dialogs/crop_picture.h"
#include "gui/dialogs/dialog_kit.h"
#include "gui/dialogs/lame_dialog.h"
#include "gui/dialogs/preference_dialog.h"
#include "gui/dialogs/preference_tabs.h"
#include "gui/dialogs/properties_dialog.h"
#include "gui/dialogs/size_dialog.h"
#include "platform/string_table.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

using namespace zembra;
using namespace zembra::gui;
using zembra::testing::RecordingHost;
using zembra::testing::TempDir;

namespace {

// Calls `act` with the modal widget once one is shown (polled, so that it
// also finds a dialog opened from inside another one's event loop); a dialog
// `act` left open is then cancelled.
// Bumped after every test: a wait for a box that never came must not act
// on a later test's box (its lambda refers to the finished test's locals).
int modalGeneration = 0;

void onModal(std::function<void(QWidget*)> act, int triesLeft = 200) {
    QTimer::singleShot(10, [act, triesLeft, generation = modalGeneration] {
        if (generation != modalGeneration) return;
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            act(modal);
            // A failed check inside `act` must not leave the test waiting.
            if (modal->isVisible()) QMetaObject::invokeMethod(modal, "reject");
        } else if (triesLeft > 0)
            onModal(act, triesLeft - 1);
    });
}

QPushButton* buttonWithText(QWidget* dialog, const QString& text) {
    for (auto* b : dialog->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

QDialogButtonBox* buttonBox(QWidget* dialog) { return dialog->findChild<QDialogButtonBox*>(); }

// Every stored setting as text, to tell "nothing written" from a change.
std::vector<std::pair<std::string, std::string>> snapshot(const SettingsStore& s) {
    return s.list();
}

QStringList entries(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i) list << box->itemText(i);
    return list;
}

bool xvidInstalled() {
    for (const auto& c : avi::installedVideoCompressors())
        if (c.fccHandler == avi::kHandlerXvid) return true;
    return false;
}

const QString kUncompressedRgb = "Full frames (uncompressed RGB)";
const QString kUncompressedYuy2 = "Full frames (uncompressed YUY2)";
const QString kXvid = "Xvid MPEG-4 ASP (libxvidcore)";

void aviOutput(SettingsStore& settings) {
    settings.output.mpegStream = 2;
    settings.output.width = 640;
    settings.output.height = 480;
    settings.output.exportYuv = 1;  // RGB24
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private:
    StringTable strings;
    RecordingHost host{&strings};

private slots:
    void init() {
        strings.release();
        host.boxes.clear();
    }
    void cleanup() { ++modalGeneration; }

    void globalAndMpegTabsWriteOnOkOnly() {
        SettingsStore settings;
        settings.output.mpegStream = 1;
        EngineSet engines(host, settings);
        const auto before = snapshot(settings);
        {
            PreferenceDialog dialog(nullptr, host, settings, engines, PreferenceDialog::kGlobalTab);
            QCOMPARE(dialog.tabs()->count(), 2);
            QCOMPARE(dialog.tabs()->currentIndex(), 0);
            QCOMPARE(dialog.tabs()->tabText(1), QString("MPEG Specific"));
            dialog.globalTab()->fields.deinterlace->setCurrentIndex(3);
            dialog.mpegTab()->vbv->setValue(99);
            dialog.mpegTab()->threads->setValue(1);
            dialog.reject();
        }
        QVERIFY(snapshot(settings) == before);

        PreferenceDialog dialog(nullptr, host, settings, engines, PreferenceDialog::kFormatTab);
        QCOMPARE(dialog.tabs()->currentIndex(), 1);
        GlobalTab* g = dialog.globalTab();
        g->fields.deinterlace->setCurrentIndex(3);
        g->fields.frameRate->setCurrentIndex(4);
        g->fields.detect24->setChecked(false);
        g->fields.force24->setChecked(false);
        g->idct->setCurrentIndex(2);
        g->fields.downSampling->setCurrentIndex(4);
        g->fields.ac3Gain->setValue(1.75);
        g->fields.dolby->setChecked(false);
        g->fields.avSynch->setChecked(true);
        g->fields.luminanceOn->setChecked(true);
        g->fields.luminanceGain->setValue(140);
        g->fields.luminanceOffset->setValue(-5);
        g->fields.subOffset->setValue(7);
        g->fields.originalColor->setChecked(false);
        g->bufferLocation->setCurrentIndex(1);
        g->bufferSize->setValue(64);
        g->useAspi->setChecked(false);
        MpegTab* m = dialog.mpegTab();
        m->motionSearch->setCurrentIndex(3);
        m->muxRate->setValue(2.5);
        m->vbv->setValue(230);
        m->quantMatrix->setCurrentIndex(1);
        m->pulldown->setChecked(true);
        m->calculation->setCurrentIndex(3);
        m->dct->setCurrentIndex(2);
        QCOMPARE(m->threads->value(), 0);  // one per core, as stored
        QCOMPARE(m->threads->maximum(), kMaxThreads);
        m->threads->setValue(1);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        const InputSettings& in = settings.input;
        QCOMPARE(in.deinterlace, 3);
        QCOMPARE(in.frameRate, 4);
        QVERIFY(!in.detect24Fps);
        QVERIFY(!in.force24Fps);
        QCOMPARE(in.idct, 2);
        QCOMPARE(in.downSampling, 4);
        QCOMPARE(in.ac3Gain, 1.75);
        QVERIFY(!in.dolby);
        QVERIFY(in.avSync);
        QVERIFY(in.luminanceFilter);
        QCOMPARE(in.luminanceGain, 140);
        QCOMPARE(in.luminanceOffset, -5);
        QCOMPARE(in.subtitleOffset, 7);
        QVERIFY(!in.subtitleColors);
        QCOMPARE(in.saveBufferLocation, 1);
        QCOMPARE(in.saveBufferSize, 64);
        QVERIFY(!in.useAspi);
        const OutputSettings& out = settings.output;
        QCOMPARE(out.motionSearch, 3);
        QCOMPARE(out.muxRate, 2.5);
        QCOMPARE(out.vbvBufferSize, 230);
        QCOMPARE(out.quantMatrix, 1);
        QVERIFY(out.pulldown);
        QCOMPARE(out.cpu, 3);
        QCOMPARE(out.dct, 2);
        QCOMPARE(settings.app.threads, 1);
        QVERIFY(host.boxes.empty());  // a large buffer on disk is no reason to warn
    }

    void globalTabWarnsAboutALargeRamBuffer() {
        SettingsStore settings;
        EngineSet engines(host, settings);
        PreferenceDialog dialog(nullptr, host, settings, engines, 0);
        dialog.globalTab()->bufferLocation->setCurrentIndex(0);
        dialog.globalTab()->bufferSize->setValue(21);
        dialog.accept();
        QCOMPARE(host.boxes.size(), size_t(1));
        QCOMPARE(int(host.boxes[0].kind), int(BoxKind::Warning));
        QCOMPARE(host.boxes[0].text, strings.text("STR_ERROR_2"));
        QCOMPARE(settings.input.saveBufferSize, 21);

        host.boxes.clear();
        PreferenceDialog again(nullptr, host, settings, engines, 0);
        again.globalTab()->bufferSize->setValue(0);
        again.accept();
        QVERIFY(host.boxes.empty());
        QCOMPARE(settings.input.saveBufferSize, 1);
    }

    // The AC-3 chooser: its title names the current file, it opens in that
    // file's folder, and a name typed without extension gets ".AC3".
    void ac3OutSelectChoosesTheExportFile() {
        TempDir tmp;
        SettingsStore settings;
        settings.output.mpegStream = 0;
        settings.input.ac3File = (tmp / "old.ac3").string();
        EngineSet engines(host, settings);
        PreferenceDialog dialog(nullptr, host, settings, engines, 0);
        QString title, folder, suffix;
        onModal([&](QWidget* w) {
            auto* chooser = qobject_cast<QFileDialog*>(w);
            QVERIFY(chooser);
            title = chooser->windowTitle();
            folder = chooser->directory().absolutePath();
            suffix = chooser->defaultSuffix();
            // Typed as a user would: selectFile() leaves the name field
            // alone once the field has the focus, which the shown dialog
            // gets at a moment of its own.
            auto* name = chooser->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText("film");
            QMetaObject::invokeMethod(chooser, "accept");
        });
        buttonWithText(&dialog, "AC3 Out Select")->click();
        QCOMPARE(title, QString::fromStdString("Current AC3 : " + settings.input.ac3File));
        QCOMPARE(folder, QString::fromStdString(tmp.path().string()));
        QCOMPARE(suffix, QString("AC3"));
        QCOMPARE(settings.input.ac3File, (tmp / "old.ac3").string());  // not before OK
        dialog.accept();
        QCOMPARE(settings.input.ac3File, (tmp / "film.AC3").string());
    }

    // The compressors offered are those that take the export format; YU12
    // is not offered for AVI; Cancel keeps every choice as it was.
    void aviTabListsTheCompressorsOfTheExportFormat() {
        SettingsStore settings;
        aviOutput(settings);
        EngineSet engines(host, settings);
        const auto before = snapshot(settings);
        PreferenceDialog dialog(nullptr, host, settings, engines, PreferenceDialog::kFormatTab);
        QCOMPARE(dialog.tabs()->tabText(1), QString("AVI Specific"));
        QCOMPARE(dialog.tabs()->currentIndex(), 1);
        QVERIFY(!dialog.mpegTab());
        AviTab* avi = dialog.aviTab();
        QVERIFY(entries(avi->videoCodec).contains(kUncompressedRgb));
        QVERIFY(!entries(avi->videoCodec).contains(kUncompressedYuy2));
        QCOMPARE(entries(avi->videoCodec).contains(kXvid), xvidInstalled());
        auto* exports = qobject_cast<QStandardItemModel*>(avi->exportFormat->model());
        QVERIFY(!exports->item(2)->isEnabled());

        avi->exportFormat->setCurrentIndex(3);  // YUY2
        QVERIFY(entries(avi->videoCodec).contains(kUncompressedYuy2));
        QVERIFY(!entries(avi->videoCodec).contains(kUncompressedRgb));
        avi->videoCodec->setCurrentIndex(entries(avi->videoCodec).indexOf(kUncompressedYuy2));
        avi->pass1->setChecked(false);
        avi->audioMode->setCurrentIndex(1);
        dialog.reject();
        QVERIFY(snapshot(settings) == before);

        PreferenceDialog again(nullptr, host, settings, engines, PreferenceDialog::kFormatTab);
        avi = again.aviTab();
        avi->exportFormat->setCurrentIndex(3);
        avi->videoCodec->setCurrentIndex(entries(avi->videoCodec).indexOf(kUncompressedYuy2));
        avi->pass1->setChecked(false);
        avi->audioMode->setCurrentIndex(1);
        again.accept();
        QCOMPARE(settings.output.exportYuv, 3);
        QCOMPARE(settings.output.compressorHandler, int(avi::kHandlerYuy2));
        QCOMPARE(settings.output.compressorName, std::string("Uncompressed YUY2"));
        QVERIFY(!settings.output.aviVideo);  // "Enable Pass 1" off: no video
        QCOMPARE(settings.output.aviAudio, 1);
        QVERIFY(host.boxes.empty());
    }

    // A pass's form hands its fields to the compressor; the state stored is
    // one the compressor takes back, coding the pass it is for.
    void aviPassSettingsReachTheCompressor() {
        if (!xvidInstalled()) QSKIP("libxvidcore is not installed");
        SettingsStore settings;
        aviOutput(settings);
        EngineSet engines(host, settings);
        PreferenceDialog dialog(nullptr, host, settings, engines, PreferenceDialog::kFormatTab);
        AviTab* avi = dialog.aviTab();
        QVERIFY(!avi->pass1Button->isEnabled());  // no compressor chosen yet
        avi->videoCodec->setCurrentIndex(entries(avi->videoCodec).indexOf(kXvid));
        QVERIFY(avi->pass1Button->isEnabled());
        QVERIFY(!avi->pass2Button->isEnabled());
        avi->pass2->setChecked(true);
        QVERIFY(avi->pass2Button->isEnabled());
        QString title;
        onModal([&](QWidget* w) {
            auto* form = qobject_cast<CodecSettingsDialog*>(w);
            QVERIFY(form);
            title = form->windowTitle();
            form->bitrate->setValue(900);
            form->quality->setValue(5);
            form->keyint->setValue(50);
            form->accept();
        });
        avi->pass1Button->click();
        QCOMPARE(title, QString("Xvid MPEG-4 - Pass 1"));
        onModal([&](QWidget* w) {
            auto* form = qobject_cast<CodecSettingsDialog*>(w);
            QVERIFY(form);
            QCOMPARE(form->bitrate->value(), 900);  // pass 2 starts from pass 1
            form->bitrate->setValue(1100);
            form->accept();
        });
        avi->pass2Button->click();
        dialog.accept();

        const OutputSettings& out = settings.output;
        QCOMPARE(out.compressorHandler, int(avi::kHandlerXvid));
        QCOMPARE(out.compressorType, int(avi::kTypeVideo));
        QVERIFY(out.twoPass);
        QCOMPARE(out.pass1StateSize, int(out.pass1State.size()));
        QCOMPARE(out.pass2StateSize, int(out.pass2State.size()));
        avi::XvidSettings p1, p2;
        QVERIFY(p1.loadState(out.pass1State));
        QVERIFY(p2.loadState(out.pass2State));
        QCOMPARE(p1.bitrate, 900);
        QCOMPARE(p1.quality, 5);
        QCOMPARE(p1.keyint, 50);
        QCOMPARE(p1.pass, 1);
        QCOMPARE(p2.bitrate, 1100);
        QCOMPARE(p2.keyint, 50);
        QCOMPARE(p2.pass, 2);
        auto compressor = avi::openVideoCompressorDriver(avi::kTypeVideo, avi::kHandlerXvid);
        QVERIFY(compressor && compressor->setState(out.pass1State));
        QVERIFY(compressor->setState(out.pass2State));

        // Back to one pass: the first pass codes the whole film again.
        PreferenceDialog onePass(nullptr, host, settings, engines, PreferenceDialog::kFormatTab);
        QCOMPARE(onePass.aviTab()->videoCodec->currentText(), kXvid);
        onePass.aviTab()->pass2->setChecked(false);
        onePass.accept();
        QVERIFY(p1.loadState(settings.output.pass1State));
        QCOMPARE(p1.pass, 0);
        QCOMPARE(p1.bitrate, 900);
        QVERIFY(host.boxes.empty());
    }

    // The sound: the description follows the mode; "Audio Codec..." opens
    // the MP3 dialog or the converter formats and the writer takes the choice.
    void aviTabChoosesTheSound() {
        SettingsStore settings;
        aviOutput(settings);
        EngineSet engines(host, settings);
        PreferenceDialog dialog(nullptr, host, settings, engines, PreferenceDialog::kFormatTab);
        AviTab* avi = dialog.aviTab();
        avi->audioMode->setCurrentIndex(0);
        QCOMPARE(avi->audioCodecName->text(), QString("Disabled"));
        QVERIFY(!avi->audioCodecButton->isEnabled());
        avi->audioMode->setCurrentIndex(1);
        QCOMPARE(avi->audioCodecName->text(), QString("WAV Export (not compressed)"));
        QCOMPARE(avi->audioCodecInfo->text(), QString("16Bits Stereo 44.1KHz"));

        avi->audioMode->setCurrentIndex(3);
        QCOMPARE(avi->audioCodecName->text(), QString("Not selected"));
        QString title;
        onModal([&](QWidget* w) {
            auto* chooser = qobject_cast<AudioFormatDialog*>(w);
            QVERIFY(chooser);
            title = chooser->windowTitle();
            QVERIFY(chooser->list->count() > 0);
            const auto found = chooser->list->findItems("128 kBit/s", Qt::MatchContains);
            chooser->list->setCurrentItem(found.isEmpty() ? chooser->list->item(0) : found[0]);
            chooser->accept();
        });
        avi->audioCodecButton->click();
        QCOMPARE(title, QString("Select Audio Codec"));
        QVERIFY(avi->audioCodecName->text().startsWith("ACM: "));
        QVERIFY(!avi->audioCodecInfo->text().isEmpty());

        avi->audioMode->setCurrentIndex(2);
        onModal([&](QWidget* w) {
            auto* lame = qobject_cast<LameDialog*>(w);
            QVERIFY(lame);
            lame->bitRate->setCurrentIndex(8);
            lame->accept();
        });
        avi->audioCodecButton->click();
        QCOMPARE(settings.app.mp3BitRate, 320);
        if (avi::Mp3Library::instance().loaded())
            QVERIFY(avi->audioCodecInfo->text().startsWith("320 Kb/s"));
        else
            QCOMPARE(avi->audioCodecName->text(), QString("Lame library not loaded"));
        dialog.accept();
        QCOMPARE(settings.output.aviAudio, 2);
    }

    void sizeAndLameDialogsWriteOnOkOnly() {
        OutputSettings out;
        {
            SizeDialog dialog(nullptr, host, out);
            QCOMPARE(dialog.volume->value(), 730);
            dialog.volume->setValue(100);
            dialog.reject();
        }
        QCOMPARE(out.splitSizeMB, 730);
        SizeDialog size(nullptr, host, out);
        size.volume->setValue(0);
        size.accept();
        QCOMPARE(out.splitSizeMB, 1);

        ApplicationSettings app;
        {
            LameDialog dialog(nullptr, host, app);
            QCOMPARE(dialog.bitRate->currentText(), QString("192 KBits"));
            QCOMPARE(dialog.quality->currentText(), QString("Q3 High"));
            dialog.bitRate->setCurrentIndex(0);
            dialog.reject();
        }
        QCOMPARE(app.mp3BitRate, 192);
        LameDialog lame(nullptr, host, app);
        lame.bitRate->setCurrentIndex(8);
        lame.channel->setCurrentIndex(1);
        lame.quality->setCurrentIndex(0);
        lame.lowpass->setValue(-1);
        lame.highpass->setValue(80);
        lame.accept();
        QCOMPARE(app.mp3BitRate, 320);
        QCOMPARE(app.mp3ChannelMode, 1);
        QCOMPARE(app.mp3Quality, 1);
        QCOMPARE(app.mp3Lowpass, -1);
        QCOMPARE(app.mp3Highpass, 80);
    }

    void propertiesEditTheRowsCopies() {
        InputSettings in;
        in.sourceWidth = 720;
        in.sourceHeight = 576;
        in.sourceFrameRate = 25.0;
        in.sourceAspect = 2;  // 4:3
        OutputSettings out;
        const InputSettings inBefore = in;
        {
            PropertiesDialog dialog(nullptr, host, in, out, "16:9");
            QCOMPARE(dialog.inputResolution->text(), QString("720 X 576"));
            QCOMPARE(dialog.inputFrameRate->text(), QString("25.000"));
            QCOMPARE(dialog.aspectRatio->text(), QString("16:9"));
            QCOMPARE(dialog.sampleFrequency->text(), QString("44100"));
            QCOMPARE(dialog.audioBitRate->count(), 14);
            QCOMPARE(dialog.audioBitRate->currentText(), QString("256"));  // index 11 by default
            dialog.width->setValue(8);
            dialog.fields.subOffset->setValue(3);
            dialog.reject();
        }
        QCOMPARE(out.width, 352);
        QCOMPARE(in.subtitleOffset, inBefore.subtitleOffset);

        PropertiesDialog dialog(nullptr, host, in, out);
        QCOMPARE(dialog.aspectRatio->text(), QString("4:3"));  // the source's own
        dialog.width->setValue(8);                             // below the smallest size: 16
        dialog.height->setValue(480);
        dialog.videoBitRate->setValue(3000);
        dialog.audioBitRate->setCurrentIndex(13);
        dialog.fields.subOffset->setValue(3);
        dialog.fields.downSampling->setCurrentIndex(1);
        dialog.accept();
        QCOMPARE(out.width, 16);
        QCOMPARE(out.height, 480);
        QCOMPARE(out.videoBitRate, 3000);
        QCOMPARE(out.audioBitRate, 13);
        QCOMPARE(in.subtitleOffset, 3);
        QCOMPARE(in.downSampling, 1);
        QCOMPARE(in.sourceWidth, 720);  // what the source is stays
    }

    // The chapter fields offer the title's chapters where they are known; a
    // range kept from a longer title is brought inside them.
    void propertiesChaptersStopAtTheTitlesCount() {
        InputSettings in;
        in.chapterFrom = 4;
        in.chapterTo = 9;
        OutputSettings out;
        {
            PropertiesDialog unknown(nullptr, host, in, out);
            QCOMPARE(unknown.chapterTo->maximum(), 99);
            QCOMPARE(unknown.chapterTo->value(), 9);
        }
        PropertiesDialog dialog(nullptr, host, in, out, {}, 5);
        QCOMPARE(dialog.chapterFrom->maximum(), 5);
        QCOMPARE(dialog.chapterTo->maximum(), 5);
        dialog.chapterTo->setValue(12);
        dialog.accept();
        QCOMPARE(in.chapterFrom, 4);
        QCOMPARE(in.chapterTo, 5);
    }

    // A refused rectangle keeps the dialog open with the message shown; a
    // good one closes it and is stored as fractions of the source.
    void cropDialogChecksAndStoresFractions() {
        OutputSettings out;
        OutputSettings untouched = out;
        bool firstStayedOpen = false;
        size_t boxesAfterFirst = 0;
        onModal([&](QWidget* w) {
            auto* dialog = qobject_cast<CropDialog*>(w);
            QVERIFY(dialog);
            dialog->x1->setValue(8);
            dialog->x2->setValue(20);  // 12 wide: refused
            buttonBox(dialog)->button(QDialogButtonBox::Ok)->click();
            firstStayedOpen = dialog->isVisible();
            boxesAfterFirst = host.boxes.size();
            dialog->x1->setValue(10);  // taken as 8
            dialog->x2->setValue(24);
            dialog->y1->setValue(-20);
            dialog->y2->setValue(500);
            buttonBox(dialog)->button(QDialogButtonBox::Ok)->click();
        });
        QVERIFY(CropDialog::run(nullptr, host, out, 720, 576, QImage()));
        QVERIFY(firstStayedOpen);
        QCOMPARE(boxesAfterFirst, size_t(1));
        QCOMPARE(host.boxes[0].text, strings.text("STR_ERROR_13"));
        QCOMPARE(host.boxes.size(), size_t(1));
        QCOMPARE(out.cropLeft, 8.0 / 720);
        QCOMPARE(out.cropRight, 24.0 / 720);
        QCOMPARE(out.cropTop, -22.0 / 576);  // a negative edge goes 2 further
        QCOMPARE(out.cropBottom, 500.0 / 576);

        host.boxes.clear();
        QVERIFY(!CropDialog::run(nullptr, host, untouched, 0, 0, QImage()));  // no source size
        QCOMPARE(host.boxes.size(), size_t(1));
        QCOMPARE(host.boxes[0].text, strings.text("STR_ERROR_23"));

        CropDialog cancelled(nullptr, host, untouched, 720, 576, QImage());
        buttonWithText(&cancelled, "Default")->click();
        QCOMPARE(cancelled.x2->value(), 720);
        cancelled.x1->setValue(100);
        cancelled.reject();
        QCOMPARE(untouched.cropLeft, 0.0);
    }

    // Dragging over the picture sets the four fields, snapped to 4 across
    // and 2 down and kept inside the frame.
    void cropPictureDragSetsTheFields() {
        OutputSettings out;
        CropDialog dialog(nullptr, host, out, 720, 576, QImage());
        dialog.resize(800, 800);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        CropPicture* picture = dialog.picture;
        const QRect area = picture->frameArea();
        auto at = [&](double fx, double fy) {
            return QPoint(area.left() + int(fx * area.width()),
                          area.top() + int(fy * area.height()));
        };
        QTest::mousePress(picture, Qt::LeftButton, {}, at(0.75, 0.8));
        QTest::mouseMove(picture, at(1.2, 1.3));
        QTest::mouseRelease(picture, Qt::LeftButton, {}, at(0.25, 0.1));
        QCOMPARE(dialog.x2->value() % 4, 0);
        QVERIFY(qAbs(dialog.x2->value() - 540) <= 4);
        QCOMPARE(dialog.y2->value() % 2, 0);
        QVERIFY(qAbs(dialog.y2->value() - 460) <= 2);
        QCOMPARE(dialog.x1->value() % 4, 0);
        QVERIFY(qAbs(dialog.x1->value() - 180) <= 4);
        QCOMPARE(dialog.y1->value() % 2, 0);
        QVERIFY(qAbs(dialog.y1->value() - 58) <= 2);
        QCOMPARE(picture->crop().left(), dialog.x1->value());
    }

    void aboutShowsTheVersion() {
        AboutDialog dialog(nullptr, host);
        bool found = false;
        for (auto* label : dialog.findChildren<QLabel*>())
            found |= label->text() == QString("Version " ZEMBRA_VERSION);
        QVERIFY(found);
        QCOMPARE(dialog.windowTitle(), QString("About"));
    }

    // Titles, tabs, entries and filters follow the language loaded, with no
    // step between the switch and the next opening.
    void textsComeFromTheCurrentLanguage() {
        QVERIFY(strings.load(std::string(ZEMBRA_SOURCE_DIR) + "/langs/Deutsch.ini"));
        auto german = [&](const char* key) {
            const QString text = QString::fromStdString(strings.text(key));
            [&] { QVERIFY(text != QString::fromUtf8(StringTable::defaultText(key))); }();
            return text;
        };
        SettingsStore settings;
        settings.output.mpegStream = 0;
        EngineSet engines(host, settings);
        PreferenceDialog preference(nullptr, host, settings, engines, 0);
        QCOMPARE(preference.windowTitle(), german("STR_PREFERENCE_TITLE"));
        QCOMPARE(preference.tabs()->tabText(1), german("STR_PREFERENCE_TAB_MPEG"));
        QCOMPARE(preference.mpegTab()->motionSearch->itemText(3),
                 german("STR_MPEGSETTING_COMBO_MOTIONSEARCH_3"));
        QVERIFY(buttonWithText(&preference, german("STR_PREFERENCE_BUTTON_AC3")));

        ApplicationSettings app;
        LameDialog lame(nullptr, host, app);
        QCOMPARE(lame.windowTitle(), german("STR_LAME_TITLE"));
        QCOMPARE(lame.quality->itemText(0), german("STR_LAME_COMBO_QUALITY_0"));
        QCOMPARE(lame.bitRate->itemText(0), QString("80 KBit"));

        OutputSettings out;
        CropDialog crop(nullptr, host, out, 720, 576, QImage());
        QCOMPARE(crop.windowTitle(), german("STR_SCROP_TITLE"));

        QString title;
        onModal([&](QWidget* w) {
            title = w->windowTitle();
            qobject_cast<QDialog*>(w)->reject();
        });
        buttonWithText(&preference, german("STR_PREFERENCE_BUTTON_AC3"))->click();
        QCOMPARE(title, QString("Aktuelle AC3 : none.ac3"));
    }

    // Not a check: with ZEMBRA_DIALOG_SHOTS set to a folder, every dialog is
    // saved there as a PNG to be looked at (run once more with QT_SCALE_FACTOR=2).
    void grabEveryDialog() {
        const QString folder = qEnvironmentVariable("ZEMBRA_DIALOG_SHOTS");
        if (folder.isEmpty()) QSKIP("ZEMBRA_DIALOG_SHOTS not set");
        if (qEnvironmentVariableIsSet("ZEMBRA_DIALOG_SHOTS_GERMAN"))
            strings.load(std::string(ZEMBRA_SOURCE_DIR) + "/langs/Deutsch.ini");
        auto save = [&](QDialog& dialog, const QString& name) {
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QVERIFY(dialog.grab().save(folder + "/" + name + ".png"));
            dialog.reject();
        };
        SettingsStore settings;
        EngineSet engines(host, settings);
        for (int tab : {0, 1}) {
            settings.output.mpegStream = 1;
            PreferenceDialog dialog(nullptr, host, settings, engines, tab);
            save(dialog, tab == 0 ? "preference_global" : "preference_mpeg");
        }
        settings.output.mpegStream = 2;
        settings.output.width = 640;
        settings.output.height = 480;
        PreferenceDialog avi(nullptr, host, settings, engines, 1);
        save(avi, "preference_avi");
        InputSettings in;
        in.sourceWidth = 720;
        in.sourceHeight = 576;
        in.sourceFrameRate = 25.0;
        PropertiesDialog properties(nullptr, host, in, settings.output, "4:3");
        save(properties, "properties");
        LameDialog lame(nullptr, host, settings.app);
        save(lame, "lame");
        SizeDialog size(nullptr, host, settings.output);
        save(size, "size");
        AboutDialog about(nullptr, host);
        save(about, "about");
        QImage frame(720, 576, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(x * 255 / 720, y * 255 / 576, 128));
        settings.output.cropLeft = 0.1;
        settings.output.cropTop = 0.125;
        CropDialog crop(nullptr, host, settings.output, 720, 576, frame);
        save(crop, "crop");
        avi::CompressorInfo xvid{avi::kTypeVideo, avi::kHandlerXvid, "Xvid MPEG-4", ""};
        CodecSettingsDialog codec(nullptr, host, xvid, {}, 1);
        save(codec, "codec_settings");
        AudioFormatDialog formats(nullptr, host, 44100);
        save(formats, "audio_formats");
    }

    // A translated format is never trusted with the arguments: conversions
    // take only values of their own type, and extra ones stay empty.
    void formatTextIsSafeWithAnyFormat() {
        QCOMPARE(formatText("%d X %d", {720, 576}), QString("720 X 576"));
        QCOMPARE(formatText("%.3f fps", {25.0}), QString("25.000 fps"));
        QCOMPARE(formatText("%5.1f%%", {12.34}), QString(" 12.3%"));
        QCOMPARE(formatText("Current AC3 : %s", {QString("a b.ac3")}),
                 QString("Current AC3 : a b.ac3"));
        QCOMPARE(formatText("%s %s %n %d", {7}), QString("7  %n "));
        QCOMPARE(formatText("%d", {QString("text")}), QString("text"));
        QCOMPARE(formatText("[%#05d|%-4s|%.1s]", {42, QString("ab"), QString("xyz")}),
                 QString("[00042|ab  |xyz]"));
        QCOMPARE(formatText("%999999999d|%", {1}), QString("%999999999d|%"));
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"

#include "gui/dialogs/avi_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "avi/avi_writer.h"
#include "gui/dialogs/audio_format_dialog.h"
#include "gui/dialogs/codec_settings_dialog.h"
#include "gui/dialogs/dialog_kit.h"
#include "gui/dialogs/lame_dialog.h"
#include "gui/qt_text.h"
#include "platform/ui_host.h"

namespace zembra::gui {

namespace {

constexpr int kExportYu12 = 2;  // refused for AVI output when a rip starts

QLabel* descriptionLine() {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setFrameShape(QFrame::StyledPanel);
    label->setMinimumWidth(260);
    return label;
}

}  // namespace

AviTab::AviTab(UiHost& host, SettingsStore& settings, avi::AviWriter& writer)
    : host_(host), settings_(settings), writer_(writer), model_(settings.output) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildAviGroup());
    layout->addWidget(buildExpertGroup());
    layout->addStretch(1);
    listCompressors();
    describeAudio();
    updateEnabled();
}

QWidget* AviTab::buildAviGroup() {
    QFormLayout* form = nullptr;
    QGroupBox* group = formGroup(host_, "STR_AVISETTING_GROUP_AVI", form);
    videoCodec = new QComboBox;
    videoCodec->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    exportFormat = keyedCombo(host_, "STR_AVISETTING_COMBO_EXPORT_", 4, model_.values.exportYuv);
    if (auto* items = qobject_cast<QStandardItemModel*>(exportFormat->model()))
        items->item(kExportYu12)->setEnabled(false);
    audioMode = keyedCombo(host_, "STR_AVISETTING_COMBO_AUDIOCODEC_", 4, model_.values.aviAudio);
    audioCodecButton = new QPushButton(tableText(host_, "STR_AVISETTING_BUTTON_AUDIOCODEC"));
    audioCodecName = descriptionLine();
    audioCodecInfo = descriptionLine();

    auto* audioRow = new QHBoxLayout;
    audioRow->addWidget(audioMode, 1);
    audioRow->addWidget(audioCodecButton);
    form->addRow(tableText(host_, "STR_AVISETTING_LABEL_VIDEOCODEC"), videoCodec);
    form->addRow(tableText(host_, "STR_AVISETTING_LABEL_EXPORT"), exportFormat);
    form->addRow(QString(), audioRow);
    form->addRow(tableText(host_, "STR_AVISETTING_LABEL_AUDIOCODECNAME"), audioCodecName);
    form->addRow(tableText(host_, "STR_AVISETTING_LABEL_AUDIOCODECINFO"), audioCodecInfo);

    connect(videoCodec, &QComboBox::currentIndexChanged, this, &AviTab::compressorChosen);
    connect(exportFormat, &QComboBox::currentIndexChanged, this, [this](int index) {
        model_.values.exportYuv = index;
        listCompressors();
        updateEnabled();
    });
    connect(audioMode, &QComboBox::currentIndexChanged, this, [this](int index) {
        model_.values.aviAudio = index;
        describeAudio();
        updateEnabled();
    });
    connect(audioCodecButton, &QPushButton::clicked, this, &AviTab::chooseAudioCodec);
    return group;
}

QWidget* AviTab::buildExpertGroup() {
    auto* group = new QGroupBox(tableText(host_, "STR_AVISETTING_GROUP_EXPERTSETTING"));
    pass1 = new QCheckBox(tableText(host_, "STR_AVISETTING_CHECK_ENABLEPASS1"));
    pass2 = new QCheckBox(tableText(host_, "STR_AVISETTING_CHECK_ENABLEPASS2"));
    pass1->setChecked(model_.values.aviVideo);
    pass2->setChecked(model_.values.twoPass);
    pass1Button = new QPushButton(tableText(host_, "STR_AVISETTING_BUTTON_PASS1SETTING"));
    pass2Button = new QPushButton(tableText(host_, "STR_AVISETTING_BUTTON_PASS2SETTING"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(pass1, 0, 0);
    grid->addWidget(pass1Button, 0, 1);
    grid->addWidget(pass2, 1, 0);
    grid->addWidget(pass2Button, 1, 1);
    grid->setColumnStretch(0, 1);

    connect(pass1, &QCheckBox::toggled, this, [this](bool on) {
        model_.values.aviVideo = on;
        updateEnabled();
    });
    connect(pass2, &QCheckBox::toggled, this, [this](bool on) {
        model_.values.twoPass = on;
        updateEnabled();
    });
    connect(pass1Button, &QPushButton::clicked, this, [this] { editPass(1); });
    connect(pass2Button, &QPushButton::clicked, this, [this] { editPass(2); });
    return group;
}

void AviTab::listCompressors() {
    const OutputSettings& v = model_.values;
    writer_.listVideoCompressors(v.width, v.height, v.exportYuv, compressors_);
    // Refilling the list is not a choice of the user's.
    const QSignalBlocker quiet(videoCodec);
    videoCodec->clear();
    int chosen = -1;
    for (size_t i = 0; i < compressors_.size(); ++i) {
        const avi::CompressorInfo& c = compressors_[i];
        videoCodec->addItem(qtText(c.description));
        if (c.fccType == uint32_t(v.compressorType) &&
            c.fccHandler == uint32_t(v.compressorHandler))
            chosen = int(i);
    }
    // A stored compressor that does not take this size or format is not
    // offered: the user picks another before the rip would refuse it.
    videoCodec->setCurrentIndex(chosen);
}

const avi::CompressorInfo* AviTab::chosenCompressor() const {
    const int i = videoCodec->currentIndex();
    return i >= 0 && i < int(compressors_.size()) ? &compressors_[size_t(i)] : nullptr;
}

std::vector<uint8_t> AviTab::configured(std::vector<uint8_t> base, const std::string& lines) {
    const avi::CompressorInfo* c = chosenCompressor();
    if (!c) return base;
    // A compressor without settings refuses every line; its state stays as
    // it comes back (empty).
    (void)writer_.configureVideoCompressor(c->fccType, c->fccHandler, base, lines);
    return base;
}

void AviTab::compressorChosen(int index) {
    if (index < 0 || index >= int(compressors_.size())) return;
    const avi::CompressorInfo& c = compressors_[size_t(index)];
    OutputSettings& v = model_.values;
    const bool same =
        c.fccType == uint32_t(v.compressorType) && c.fccHandler == uint32_t(v.compressorHandler);
    v.compressorName = c.name;
    v.compressorType = int(c.fccType);
    v.compressorHandler = int(c.fccHandler);
    // Another compressor's settings mean nothing to this one: start from its
    // defaults. The second pass starts from the first until it is edited.
    if (!same) {
        v.pass1State = configured({}, "");
        v.pass2State.clear();
    }
    updateEnabled();
}

bool AviTab::twoPass() const { return pass1->isChecked() && pass2->isChecked(); }

void AviTab::editPass(int pass) {
    const avi::CompressorInfo* c = chosenCompressor();
    if (!c) return host_.error("STR_ERROR_38");
    if (!CodecSettingsDialog::hasForm(*c)) {
        host_.messageBox(BoxKind::Warning, host_.text("STR_CODEC_NOSETTINGS"));
        return;
    }
    OutputSettings& v = model_.values;
    std::vector<uint8_t>& state = pass == 1 ? v.pass1State : v.pass2State;
    const std::vector<uint8_t>& shown = pass == 2 && v.pass2State.empty() ? v.pass1State : state;
    CodecSettingsDialog form(this, host_, *c, shown, pass);
    if (form.exec() != QDialog::Accepted) return;
    std::vector<uint8_t> edited = shown;
    if (!writer_.configureVideoCompressor(c->fccType, c->fccHandler, edited, form.keyValues())) {
        host_.messageBox(BoxKind::Error, host_.text("STR_CODEC_REFUSED"));
        return;
    }
    state = edited;
}

void AviTab::describeAudio() {
    std::string line1, line2;
    writer_.describeAudioCodec(audioMode->currentIndex(), line1, line2);
    audioCodecName->setText(qtText(line1));
    audioCodecInfo->setText(qtText(line2));
}

void AviTab::chooseAudioCodec() {
    const int mode = audioMode->currentIndex();
    ApplicationSettings& app = settings_.app;
    if (mode == avi::kAudioMp3) {
        if (!LameDialog::run(this, host_, app)) return;
        writer_.chooseAudioCodec(avi::kAudioMp3, app.mp3BitRate, app.mp3ChannelMode, app.mp3Quality,
                                 app.mp3Lowpass, app.mp3Highpass);
    } else if (mode == avi::kAudioConverter) {
        // The formats offered depend on the rate the sound is written at.
        writer_.setAudioOutputRate(settings_.input.downSampling == 4 ? 48000 : 44100);
        AudioFormatDialog chooser(this, host_, writer_.audioOutputRate());
        if (chooser.exec() != QDialog::Accepted) return;
        const AudioFormatDialog::Choice choice = chooser.choice();
        if (!choice.converter.empty())
            (void)writer_.chooseAudioCodec(avi::kAudioConverter, choice.converter, choice.kbps);
    }
    describeAudio();
}

void AviTab::updateEnabled() {
    const int mode = audioMode->currentIndex();
    audioCodecButton->setEnabled(mode == avi::kAudioMp3 || mode == avi::kAudioConverter);
    const bool video = pass1->isChecked();
    videoCodec->setEnabled(video);
    pass2->setEnabled(video);
    pass1Button->setEnabled(video && chosenCompressor());
    pass2Button->setEnabled(twoPass() && chosenCompressor());
}

void AviTab::commit(OutputSettings& output) {
    OutputSettings& v = model_.values;
    v.exportYuv = exportFormat->currentIndex();
    v.aviAudio = audioMode->currentIndex();
    v.aviVideo = pass1->isChecked();
    v.twoPass = pass2->isChecked();
    if (chosenCompressor()) {
        // The passes differ in the pass their state codes: one pass, or the
        // first pass writing the statistics the second one reads.
        v.pass1State = configured(v.pass1State, twoPass() ? "pass=1" : "pass=0");
        if (twoPass())
            v.pass2State = configured(v.pass2State.empty() ? v.pass1State : v.pass2State, "pass=2");
    }
    v.pass1StateSize = int(v.pass1State.size());
    v.pass2StateSize = int(v.pass2State.size());
    model_.ok(output);
}

}  // namespace zembra::gui

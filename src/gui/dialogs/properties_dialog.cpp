#include "gui/dialogs/properties_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialogs/ac3_chooser.h"
#include "gui/dialogs/dialog_kit.h"
#include "gui/qt_text.h"

namespace zembra::gui {

namespace {

const InputFieldKeys kPropertyKeys{"STR_PROPERTY_", "LABEL_DEINTERLACE", "LABEL_DWONSAMPLING"};

QLabel* summaryLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

PropertiesDialog::PropertiesDialog(QWidget* parent, UiHost& host, InputSettings& input,
                                   OutputSettings& output, const std::string& aspect,
                                   int chapterCount)
    : QDialog(parent),
      fields(host, kPropertyKeys, input),
      host_(host),
      input_(input),
      output_(output),
      chapterCount_(chapterCount),
      model_(input, output) {
    setWindowTitle(tableText(host, "STR_PROPERTIES_TITLE"));

    videoBitRate = integerField(output.videoBitRate, 0);
    fields.videoForm->addRow(tableText(host, "STR_PROPERTY_LABEL_VIDEOBITRATE"), videoBitRate);
    audioBitRate = new QComboBox;
    const QString rateFormat = tableText(host, "STR_PROPERTY_COMBO_AUDIOBITRATE");
    for (int rate : CfTabPropertiesDlg::kAudioBitRates)
        audioBitRate->addItem(formatText(rateFormat, {rate}));
    selectClamped(audioBitRate, output.audioBitRate);
    fields.audioForm->insertRow(2, tableText(host, "STR_PROPERTY_LABEL_AUDIOBITRATE"),
                                audioBitRate);

    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->addWidget(fields.video, 0, 0);
    grid->addWidget(fields.audio, 1, 0, 2, 1);
    grid->addWidget(fields.luminance, 0, 1);
    grid->addWidget(fields.subtitle, 1, 1);
    grid->addWidget(buildResolutionGroup(host, aspect), 2, 1);
    grid->setRowStretch(3, 1);
    auto* tabs = new QTabWidget;
    tabs->addTab(page, tableText(host, "STR_PROPERTIES_TAB_PROPERTY"));

    QDialogButtonBox* buttons =
        okCancelButtons(this, host, "STR_PROPERTIES_BUTTON_OK", "STR_PROPERTIES_BUTTON_CANCEL");
    QPushButton* ac3 = buttons->addButton(tableText(host, "STR_PROPERTIES_BUTTON_AC3"),
                                          QDialogButtonBox::ActionRole);
    connect(ac3, &QPushButton::clicked, this, &PropertiesDialog::chooseAc3File);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
}

QWidget* PropertiesDialog::buildResolutionGroup(const UiHost& host, const std::string& aspect) {
    QFormLayout* form = nullptr;
    QGroupBox* group = formGroup(host, "STR_PROPERTY_GROUP_RESOLUTION", form);
    width = integerField(output_.width, 0, 9999);
    height = integerField(output_.height, 0, 9999);
    auto* size = new QHBoxLayout;
    size->addWidget(width, 1);
    size->addWidget(new QLabel(QStringLiteral("x")));
    size->addWidget(height, 1);
    form->addRow(tableText(host, "STR_PROPERTY_LABEL_OUTPUTRESOLUTION"), size);
    // The chapters to rip, numbered from 1 as players show them; 0 from and
    // to rips the whole title. A title's own count bounds them where it is
    // known, so that a range the title does not have cannot be typed.
    const int lastChapter = chapterCount_ > 0 ? chapterCount_ : 99;
    chapterFrom = integerField(std::min(input_.chapterFrom, lastChapter), 0, lastChapter);
    chapterTo = integerField(std::min(input_.chapterTo, lastChapter), 0, lastChapter);
    auto* chapters = new QHBoxLayout;
    chapters->addWidget(chapterFrom, 1);
    chapters->addWidget(new QLabel(tableText(host, "STR_PROPERTY_LABEL_CHAPTERTO")));
    chapters->addWidget(chapterTo, 1);
    form->addRow(tableText(host, "STR_PROPERTY_LABEL_CHAPTERFROM"), chapters);

    const CfTabPropertiesDlg::Summary facts = model_.summary();
    auto line = [&](const char* formatKey, const QVariantList& values) {
        return summaryLabel(formatText(tableText(host, formatKey), values));
    };
    inputResolution = line("STR_PROPERTY_FORMAT_INPUTRESOLUTION", {facts.width, facts.height});
    inputFrameRate = line("STR_PROPERTY_FORMAT_INPUTFRAMERATE", {facts.frameRate});
    aspectRatio = summaryLabel(qtText(aspect.empty() ? facts.aspect : aspect));
    sampleFrequency = line("STR_PROPERTY_FORMAT_SAMPLEFREQUENCY", {facts.sampleRate});
    form->addRow(tableText(host, "STR_PROPERTY_LABEL_INPUTRESOLUTION"), inputResolution);
    form->addRow(tableText(host, "STR_PROPERTY_LABEL_INPUTFRAMERATE"), inputFrameRate);
    form->addRow(tableText(host, "STR_PROPERTY_LABEL_ASPECTRATION"), aspectRatio);
    form->addRow(tableText(host, "STR_PROPERTY_LABEL_SAMPLEFRENQUENCY"), sampleFrequency);
    return group;
}

bool PropertiesDialog::run(QWidget* parent, UiHost& host, InputSettings& input,
                           OutputSettings& output, const std::string& aspect, int chapterCount) {
    PropertiesDialog dialog(parent, host, input, output, aspect, chapterCount);
    return dialog.exec() == QDialog::Accepted;
}

void PropertiesDialog::chooseAc3File() {
    if (auto path = gui::chooseAc3File(this, host_, model_.input.ac3File))
        model_.input.ac3File = *path;
}

void PropertiesDialog::accept() {
    fields.store(model_.input);
    model_.output.videoBitRate = videoBitRate->value();
    model_.output.audioBitRate = audioBitRate->currentIndex();
    model_.output.width = width->value();
    model_.output.height = height->value();
    const int from = chapterFrom->value(), to = chapterTo->value();
    model_.input.chapterFrom = from > 0 ? from : 0;
    model_.input.chapterTo = from > 0 ? std::max(from, to) : 0;
    model_.ok(host_, input_, output_);
    QDialog::accept();
}

}  // namespace zembra::gui

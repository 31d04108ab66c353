#include "gui/dialogs/preference_tabs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QSpinBox>

#include "geometry/output_geometry.h"
#include "gui/dialogs/dialog_kit.h"

namespace zembra::gui {

namespace {

const InputFieldKeys kGlobalKeys{"STR_GLOBAL_", "LABEL_DEINTERLACEFILTER", "LABEL_DOWNSAMPLING"};

QCheckBox* checkBox(const UiHost& host, const char* key, bool value) {
    auto* box = new QCheckBox(tableText(host, key));
    box->setChecked(value);
    return box;
}

}  // namespace

GlobalTab::GlobalTab(const UiHost& host, const InputSettings& input)
    : fields(host, kGlobalKeys, input), model_(input) {
    idct = keyedCombo(host, "STR_GLOBAL_COMBO_IDCT_", 5, input.idct);
    fields.videoForm->insertRow(2, tableText(host, "STR_GLOBAL_LABEL_IDCT"), idct);

    QFormLayout* bufferForm = nullptr;
    QGroupBox* buffer = formGroup(host, "STR_GLOBAL_GROUP_SAVEDVDDRIVER", bufferForm);
    bufferLocation = keyedCombo(host, "STR_GLOBAL_COMBO_LOCATION_", 2, input.saveBufferLocation);
    bufferSize = integerField(input.saveBufferSize);
    bufferSize->setSuffix(QStringLiteral(" MB"));
    useAspi = checkBox(host, "STR_GLOBAL_CHECK_USEASPI", input.useAspi);
    bufferForm->addRow(tableText(host, "STR_GLOBAL_LABEL_LOCATION"), bufferLocation);
    bufferForm->addRow(tableText(host, "STR_GLOBAL_LABEL_SIZE"), bufferSize);
    bufferForm->addRow(useAspi);

    auto* grid = new QGridLayout(this);
    grid->addWidget(fields.video, 0, 0);
    grid->addWidget(fields.audio, 1, 0, 2, 1);
    grid->addWidget(fields.luminance, 0, 1);
    grid->addWidget(fields.subtitle, 1, 1);
    grid->addWidget(buffer, 2, 1);
    grid->setRowStretch(3, 1);
}

void GlobalTab::commit(UiHost& host, InputSettings& input) {
    fields.store(model_.values);
    model_.values.idct = idct->currentIndex();
    model_.values.saveBufferLocation = bufferLocation->currentIndex();
    model_.values.saveBufferSize = bufferSize->value();
    model_.values.useAspi = useAspi->isChecked();
    model_.ok(host, input);
}

MpegTab::MpegTab(const UiHost& host, const OutputSettings& output, const ApplicationSettings& app)
    : model_(output, app) {
    QFormLayout* mpegForm = nullptr;
    QGroupBox* mpeg = formGroup(host, "STR_MPEGSETTING_GROUP_MPEG", mpegForm);
    motionSearch = keyedCombo(host, "STR_MPEGSETTING_COMBO_MOTIONSEARCH_", kMotionSearchLevels,
                              output.motionSearch);
    muxRate = decimalField(output.muxRate, 2, 0.0, 1000.0);
    vbv = integerField(output.vbvBufferSize, 0);
    quantMatrix = keyedCombo(host, "STR_MPEGSETTING_COMBO_QUANT_", 2, output.quantMatrix);
    pulldown = checkBox(host, "STR_MPEGSETTING_CHECK_PULLDOWN", output.pulldown);
    mpegForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_MOTIONSEARCH"), motionSearch);
    // Only the Best level reads it; levels 0-3 keep their own rate control.
    adaptiveQuant = keyedCombo(host, "STR_MPEGSETTING_COMBO_ADAPTIVEQUANT_", kAdaptiveQuantLevels,
                               output.adaptiveQuant);
    mpegForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_ADAPTIVEQUANT"), adaptiveQuant);
    mpegForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_MUXRATE"), muxRate);
    mpegForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_VBVBUFFER"), vbv);
    mpegForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_QUANT"), quantMatrix);
    mpegForm->addRow(pulldown);

    QFormLayout* expertForm = nullptr;
    QGroupBox* expert = formGroup(host, "STR_MPEGSETTING_GROUP_EXPERTSETTING", expertForm);
    calculation = keyedCombo(host, "STR_MPEGSETTING_COMBO_CACULATION_", 4, output.cpu);
    dct = keyedCombo(host, "STR_MPEGSETTING_COMBO_IDCT_", 3, output.dct);
    expertForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_CACULATION"), calculation);
    expertForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_IDCT"), dct);
    // The resampling kernel of every rip (the AVI ones too); it lives here
    // beside the encoder's other picture-quality choices.
    resize = keyedCombo(host, "STR_CLI_COMBO_Resize_", kVideoResizeCount, output.videoResize);
    expertForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_RESIZE"), resize);
    threads = integerField(app.threads, 0, kMaxThreads);
    expertForm->addRow(tableText(host, "STR_MPEGSETTING_LABEL_THREADS"), threads);

    auto* grid = new QGridLayout(this);
    grid->addWidget(mpeg, 0, 0);
    grid->addWidget(expert, 0, 1, Qt::AlignTop);
    grid->setRowStretch(1, 1);
}

void MpegTab::commit(OutputSettings& output, ApplicationSettings& app) {
    model_.values.motionSearch = motionSearch->currentIndex();
    model_.values.adaptiveQuant = adaptiveQuant->currentIndex();
    model_.values.muxRate = muxRate->value();
    model_.values.vbvBufferSize = vbv->value();
    model_.values.quantMatrix = quantMatrix->currentIndex();
    model_.values.pulldown = pulldown->isChecked();
    model_.values.cpu = calculation->currentIndex();
    model_.values.dct = dct->currentIndex();
    model_.values.videoResize = resize->currentIndex();
    model_.threads = threads->value();
    model_.ok(output, app);
}

}  // namespace zembra::gui

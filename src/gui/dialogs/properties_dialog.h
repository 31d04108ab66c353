#pragma once
// The properties of one file-list row: its input settings as on the Global
// tab, its video and audio bit rates and output size, and a read-only summary
// of the source. It edits copies; OK writes them back.
//
// Entry point for the main window (double-click or File List > Properties):
//   bool PropertiesDialog::run(QWidget* parent, UiHost& host, InputSettings& input,
//                              OutputSettings& output, const std::string& aspect = {});
// `input` and `output` are copies of the row's item; after true the caller
// calls EncodeDlg::setItemSettings(row, input, output). The aspect ratio
// shown is the source's (input.sourceAspect) unless `aspect` names another.

#include <QDialog>
#include <string>

#include "app/dialogs/settings_dialogs.h"
#include "gui/dialogs/input_fields.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace zembra::gui {

class PropertiesDialog : public QDialog {
    Q_OBJECT
public:
    // chapterCount: the chapters of the row's title, the most the chapter
    // fields offer (0: not known before the rip, as for VOB files).
    PropertiesDialog(QWidget* parent, UiHost& host, InputSettings& input, OutputSettings& output,
                     const std::string& aspect = {}, int chapterCount = 0);
    static bool run(QWidget* parent, UiHost& host, InputSettings& input, OutputSettings& output,
                    const std::string& aspect = {}, int chapterCount = 0);

    void accept() override;

    InputFields fields;
    QSpinBox* videoBitRate;
    QSpinBox* chapterFrom;  // 0: the whole title
    QSpinBox* chapterTo;
    QComboBox* audioBitRate;
    QSpinBox *width, *height;
    QLabel *inputResolution, *inputFrameRate, *aspectRatio, *sampleFrequency;

private:
    QWidget* buildResolutionGroup(const UiHost& host, const std::string& aspect);
    void chooseAc3File();

    UiHost& host_;
    InputSettings& input_;
    OutputSettings& output_;
    int chapterCount_;
    CfTabPropertiesDlg model_;
};

}  // namespace zembra::gui

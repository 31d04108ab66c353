#pragma once
// The Global and MPEG Specific tabs of the preference dialog. Each opens on a
// copy of the record it edits and writes it back through its model on commit.

#include <QWidget>
#include <string>

#include "app/dialogs/settings_dialogs.h"
#include "gui/dialogs/input_fields.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

namespace zembra::gui {

class GlobalTab : public QWidget {
    Q_OBJECT
public:
    GlobalTab(const UiHost& host, const InputSettings& input);

    // The file "AC3 Out Select" chose; written with the other fields.
    void setAc3File(const std::string& path) { model_.values.ac3File = path; }
    const std::string& ac3File() const { return model_.values.ac3File; }

    // The fields into the record (the buffer size floored, a large RAM buffer
    // warned about through `host`).
    void commit(UiHost& host, InputSettings& input);

    InputFields fields;
    QComboBox* idct;
    QComboBox* bufferLocation;
    QSpinBox* bufferSize;
    QCheckBox* useAspi;

private:
    CfGlobalDlg model_;
};

class MpegTab : public QWidget {
    Q_OBJECT
public:
    MpegTab(const UiHost& host, const OutputSettings& output, const ApplicationSettings& app);
    void commit(OutputSettings& output, ApplicationSettings& app);

    QComboBox *motionSearch, *adaptiveQuant, *quantMatrix, *calculation, *dct, *resize;
    QDoubleSpinBox* muxRate;
    QSpinBox *vbv, *threads;
    QCheckBox* pulldown;

private:
    CfMPEGSettingDlg model_;
};

}  // namespace zembra::gui

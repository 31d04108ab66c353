#pragma once
// The MP3 dialog: bit rate, channel mode, quality and the two filters the
// MP3 encoder uses for the sound of an AVI file.
//
// Entry point (the AVI tab's "Audio Codec..." with "Use Lame"):
//   bool LameDialog::run(QWidget* parent, const UiHost& host, ApplicationSettings& app);
// True when OK wrote the MP3 values into `app`.

#include <QDialog>

#include "app/settings_store.h"

class QComboBox;
class QSpinBox;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

class LameDialog : public QDialog {
    Q_OBJECT
public:
    LameDialog(QWidget* parent, const UiHost& host, ApplicationSettings& app);
    static bool run(QWidget* parent, const UiHost& host, ApplicationSettings& app);

    void accept() override;

    QComboBox *bitRate, *channel, *quality;
    QSpinBox *lowpass, *highpass;

private:
    ApplicationSettings& app_;
};

}  // namespace zembra::gui

#pragma once
// The size dialog: the piece size of the "Custom Size" split, in MB.
//
// Entry point for the main window (Split "Setting..."):
//   bool SizeDialog::run(QWidget* parent, const UiHost& host, OutputSettings& output);
// True when OK wrote Volume.

#include <QDialog>

#include "app/settings_store.h"

class QSpinBox;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

class SizeDialog : public QDialog {
    Q_OBJECT
public:
    SizeDialog(QWidget* parent, const UiHost& host, OutputSettings& output);
    static bool run(QWidget* parent, const UiHost& host, OutputSettings& output);

    void accept() override;

    QSpinBox* volume;

private:
    OutputSettings& output_;
};

}  // namespace zembra::gui

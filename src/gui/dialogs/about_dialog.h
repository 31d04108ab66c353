#pragma once
// The About box: program name, version and what the program does.
//
// Entry point (Help > About...):
//   void AboutDialog::run(QWidget* parent, const UiHost& host);

#include <QDialog>

namespace zembra {
class UiHost;
}

namespace zembra::gui {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(QWidget* parent, const UiHost& host);
    static void run(QWidget* parent, const UiHost& host);
};

}  // namespace zembra::gui

#pragma once
// The last word before the computer is switched off after a rip: a dialog
// counting down (30 seconds) with Cancel, so that a user still at the
// computer, or one who forgot the setting, keeps it running.

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace zembra {
class StringTable;
}

namespace zembra::gui {

class ShutdownCountdown : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDefaultSeconds = 30;

    ShutdownCountdown(const StringTable& strings, int seconds = kDefaultSeconds,
                      QWidget* parent = nullptr);

    // Shows the dialog modally; true when the count ran out or "Switch Off
    // Now" was pressed, false on Cancel, Esc or closing the dialog.
    static bool confirm(const StringTable& strings, QWidget* parent, int seconds = kDefaultSeconds);

    int secondsLeft() const { return left_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* nowButton() const { return now_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tick();
    void showLeft();

    QString text_;  // with "%d" for the seconds left
    int seconds_;
    int left_;
    QLabel* label_;
    QProgressBar* bar_;
    QPushButton* now_;
    QPushButton* cancel_;
    QTimer* timer_;
};

}  // namespace zembra::gui

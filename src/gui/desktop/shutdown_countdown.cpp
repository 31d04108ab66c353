#include "gui/desktop/shutdown_countdown.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/desktop/desktop_texts.h"
#include "gui/qt_text.h"
#include "platform/string_table.h"

namespace zembra::gui {

ShutdownCountdown::ShutdownCountdown(const StringTable& strings, int seconds, QWidget* parent)
    : QDialog(parent),
      text_(qtText(strings.text("STR_DESKTOP_ShutdownText"))),
      seconds_(std::max(seconds, 1)),
      left_(seconds_),
      label_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      now_(new QPushButton(qtText(strings.text("STR_DESKTOP_ShutdownNow")), this)),
      cancel_(new QPushButton(qtText(strings.text("STR_DESKTOP_ShutdownCancel")), this)),
      timer_(new QTimer(this)) {
    setWindowTitle(qtText(strings.text("STR_DESKTOP_ShutdownTitle")));
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    // Wide enough for the sentence on two lines rather than a narrow column.
    label_->setMinimumWidth(label_->fontMetrics().averageCharWidth() * 48);
    bar_->setRange(0, seconds_);
    bar_->setTextVisible(false);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(now_, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel_, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Enter, or a key pressed by chance, must not switch the computer off.
    now_->setAutoDefault(false);
    cancel_->setDefault(true);
    cancel_->setFocus();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(buttons);

    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &ShutdownCountdown::tick);
    connect(this, &QDialog::finished, timer_, &QTimer::stop);
    showLeft();
}

void ShutdownCountdown::showEvent(QShowEvent* event) {
    // The count starts when the user can see it.
    if (!timer_->isActive() && left_ > 0) timer_->start();
    QDialog::showEvent(event);
    // The user may be in another window: the task bar flashes for this one.
    QApplication::alert(this);
}

bool ShutdownCountdown::confirm(const StringTable& strings, QWidget* parent, int seconds) {
    ShutdownCountdown dialog(strings, seconds, parent);
    return dialog.exec() == QDialog::Accepted;
}

void ShutdownCountdown::tick() {
    if (--left_ <= 0) {
        left_ = 0;
        accept();
        return;
    }
    showLeft();
}

void ShutdownCountdown::showLeft() {
    label_->setText(withNumber(text_, left_));
    bar_->setValue(left_);
}

}  // namespace zembra::gui

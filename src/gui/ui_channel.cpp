#include "gui/ui_channel.h"

#include <QThread>

#include "gui/qt_text.h"

namespace zembra::gui {

UiChannel::UiChannel(QObject* parent) : QObject(parent) {}

bool UiChannel::onGuiThread() const { return QThread::currentThread() == thread(); }

void UiChannel::postStatus(const std::string& text) {
    std::unique_lock lock(mutex_);
    pending_.status = text;
    pending_.statusOrder = ++order_;
    scheduleFlush(lock);
}

void UiChannel::postProgress(int position, int range) {
    std::unique_lock lock(mutex_);
    int percent = range > 0 ? int(int64_t(position) * 100 / range) : 0;
    pending_.progress = std::clamp(percent, 0, 100);
    scheduleFlush(lock);
}

void UiChannel::postState(ViewState state) {
    std::unique_lock lock(mutex_);
    pending_.state = std::move(state);
    pending_.stateOrder = ++order_;
    scheduleFlush(lock);
}

void UiChannel::postPreview(PreviewFrame frame) {
    std::unique_lock lock(mutex_);
    pending_.preview = std::move(frame);
    pending_.logo = false;
    scheduleFlush(lock);
}

void UiChannel::postLogo() {
    std::unique_lock lock(mutex_);
    pending_.preview.reset();
    pending_.logo = true;
    scheduleFlush(lock);
}

void UiChannel::scheduleFlush(std::unique_lock<std::mutex>& lock) {
    if (onGuiThread()) {
        lock.unlock();
        flush();
        return;
    }
    if (flushQueued_) return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, &UiChannel::flush, Qt::QueuedConnection);
}

void UiChannel::flush() {
    Pending p;
    {
        std::lock_guard lock(mutex_);
        p = std::move(pending_);
        pending_ = Pending{};
        flushQueued_ = false;
    }
    if (!sink_) return;
    const bool statusLast = p.status && p.statusOrder > p.stateOrder;
    if (p.status && !statusLast) sink_->showStatus(qtText(*p.status));
    if (p.state) sink_->showState(*p.state);
    if (statusLast) sink_->showStatus(qtText(*p.status));
    if (p.progress) sink_->showProgress(*p.progress);
    if (p.logo) sink_->showLogo();
    if (p.preview) sink_->showPreview(*p.preview);
}

}  // namespace zembra::gui

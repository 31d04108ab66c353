#pragma once
// The road from the controller and the engines to the widgets. Whatever
// thread reports a status text, a progress value, a new controller state or
// a preview picture, the window receives it on its own thread. Reports from
// another thread are coalesced: only the latest of each kind is drawn, so a
// fast worker cannot flood the window's event queue.

#include <QObject>
#include <QString>
#include <cstdint>
#include <mutex>
#include <optional>

#include "app/main_view.h"
#include "app/encode_dlg.h"

namespace zembra::gui {

// What the window does with each report (called on the window's thread).
class UiSink {
public:
    virtual ~UiSink() = default;
    virtual void showStatus(const QString& text) = 0;
    virtual void showProgress(int percent) = 0;
    virtual void showState(const ViewState& state) = 0;
    virtual void showPreview(const PreviewFrame& frame) = 0;
    virtual void showLogo() = 0;
};

class UiChannel : public QObject {
    Q_OBJECT
public:
    explicit UiChannel(QObject* parent = nullptr);
    void setSink(UiSink* sink) { sink_ = sink; }

    // Any thread. On the window's thread the report is drawn at once (after
    // whatever is still pending, to keep the order).
    void postStatus(const std::string& text);
    void postProgress(int position, int range);
    void postState(ViewState state);
    void postPreview(PreviewFrame frame);
    void postLogo();

    bool onGuiThread() const;
    // Draws what is pending (the window's thread).
    void flush();

private:
    struct Pending {
        std::optional<std::string> status;
        std::optional<int> progress;
        std::optional<ViewState> state;
        std::optional<PreviewFrame> preview;
        bool logo = false;
        // Which of the status text and the state came last: both write the
        // monitor line, and the later one must win.
        uint64_t statusOrder = 0, stateOrder = 0;
    };
    void scheduleFlush(std::unique_lock<std::mutex>& lock);

    UiSink* sink_ = nullptr;
    std::mutex mutex_;
    Pending pending_;
    uint64_t order_ = 0;
    bool flushQueued_ = false;
};

}  // namespace zembra::gui

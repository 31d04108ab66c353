#pragma once
// UiHost for the window. Message boxes are modal, owned by the main window,
// titled by their kind and show their text as plain text (file names may look
// like markup). The rip runs on a worker thread: a box it asks for is shown on
// the window's thread while the worker waits for the answer; its status and
// progress reports are posted to the window and coalesced; its message pump
// does nothing, since the window's own event loop keeps running.

#include <QObject>
#include <atomic>

#include "gui/ui_channel.h"
#include "platform/ui_host.h"

class QWidget;

namespace zembra::gui {

class QtHost : public QObject, public UiHost {
    Q_OBJECT
public:
    QtHost(const StringTable* strings, UiChannel& channel, QObject* parent = nullptr);

    BoxAnswer messageBox(BoxKind kind, const std::string& text) override;
    void pumpMessages() override;
    void setStatus(const std::string& text) override;
    void setProgress(int position, int range) override;

    // The window the boxes belong to.
    void setOwner(QWidget* owner) { owner_ = owner; }
    // The window is going away: a worker's question is answered No (an error
    // or warning Ok) without a box, so that the worker can end.
    void setClosing() { closing_ = true; }

    // The box title of a kind, from the string table.
    QString boxTitle(BoxKind kind) const;

private:
    BoxAnswer showBox(BoxKind kind, const std::string& text);

    UiChannel& channel_;
    QWidget* owner_ = nullptr;
    std::atomic<bool> closing_{false};
};

}  // namespace zembra::gui

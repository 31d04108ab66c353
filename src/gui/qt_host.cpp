#include "gui/qt_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "gui/qt_text.h"

namespace zembra::gui {

QtHost::QtHost(const StringTable* strings, UiChannel& channel, QObject* parent)
    : QObject(parent), UiHost(strings), channel_(channel) {}

QString QtHost::boxTitle(BoxKind kind) const {
    switch (kind) {
        case BoxKind::Error:
            return qtText(text("STR_MAIN_DLG_ErrorTitle"));
        case BoxKind::Warning:
            return qtText(text("STR_MAIN_DLG_WarningTitle"));
        case BoxKind::Question:
            break;
    }
    return qtText(text("STR_MAIN_DLG_InformationTitle"));
}

BoxAnswer QtHost::messageBox(BoxKind kind, const std::string& text) {
    const BoxAnswer unattended = kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    if (QThread::currentThread() == thread()) return showBox(kind, text);
    if (closing_) return unattended;
    BoxAnswer answer = unattended;
    // The window's thread never waits for the worker, so this cannot deadlock.
    QMetaObject::invokeMethod(
        this, [&] { return closing_ ? unattended : showBox(kind, text); },
        Qt::BlockingQueuedConnection, &answer);
    return answer;
}

BoxAnswer QtHost::showBox(BoxKind kind, const std::string& text) {
    // What the engines reported just before is on screen behind the box.
    channel_.flush();
    QMessageBox::Icon icon = kind == BoxKind::Error     ? QMessageBox::Critical
                             : kind == BoxKind::Warning ? QMessageBox::Warning
                                                        : QMessageBox::Question;
    QMessageBox::StandardButtons buttons =
        kind == BoxKind::Question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(icon, boxTitle(kind), qtText(text), buttons, owner_);
    box.setTextFormat(Qt::PlainText);
    const int result = box.exec();
    if (kind != BoxKind::Question) return BoxAnswer::Ok;
    return result == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
}

void QtHost::pumpMessages() {
    // On the window's thread (opening a disc) the window repaints, but takes
    // no input: a click must not start a second command inside the first.
    if (QThread::currentThread() == thread())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtHost::setStatus(const std::string& text) { channel_.postStatus(text); }

void QtHost::setProgress(int position, int range) { channel_.postProgress(position, range); }

}  // namespace zembra::gui

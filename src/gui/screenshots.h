#pragma once
// Pictures of the window and of each dialog, for the documentation and for
// the check that every one of them opens and draws: PNG files named after
// what they show, written into a folder. The dialogs are shown without
// waiting for the user and closed again without OK, so nothing is stored.

#include <QString>
#include <QStringList>

namespace zembra::gui {

class Session;

// The names (without ".png") saveScreenshots writes.
QStringList screenshotNames();
// Writes every picture; returns the names that could not be made.
QStringList saveScreenshots(Session& session, const QString& folder);

}  // namespace zembra::gui

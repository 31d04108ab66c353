#pragma once
// The program's picture: the window icon, and the logo the preview area
// shows while the file list is empty. Both are built into the program, so
// they show even when the icon is not installed in the desktop's theme.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace zembra::gui {

// The theme's "zembra" icon when the desktop has it installed, else the
// built-in one (48 and 256 pixels).
QIcon appIcon();

// The logo for a preview area of `area` logical pixels: the icon at half
// the area's shorter side (at most 256), sharp at the given pixel ratio.
// Null for an empty area.
QPixmap logoPixmap(const QSize& area, qreal devicePixelRatio = 1.0);

}  // namespace zembra::gui

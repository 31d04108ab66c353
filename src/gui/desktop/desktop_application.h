#pragma once
// How the program introduces itself to the desktop: its name, the desktop
// file that launched it (so the task bar shows the launcher's icon and
// groups the window under it), its icon, and sharp scaling on screens at
// 125 % or 150 %.

class QApplication;

namespace zembra::gui {

// Before the QApplication is made: scale factors such as 1.25 are used as
// they are rather than rounded to whole numbers.
void prepareHighDpi();

// After it is made: application and desktop file name "zembra-gui" /
// "zembra", and the window icon every window inherits.
void introduceToDesktop(QApplication& app);

}  // namespace zembra::gui

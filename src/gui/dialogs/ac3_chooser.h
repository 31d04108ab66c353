#pragma once
// "AC3 Out Select": where an exported AC-3 stream goes. A save dialog titled
// "Current AC3 : <file>" that opens in that file's folder with its name, and
// adds ".AC3" when the user types a name without an extension.

#include <optional>
#include <string>

class QWidget;

namespace zembra {
class UiHost;
}

namespace zembra::gui {

std::optional<std::string> chooseAc3File(QWidget* parent, const UiHost& host,
                                         const std::string& current);

}  // namespace zembra::gui

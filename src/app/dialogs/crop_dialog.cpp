#include "app/dialogs/crop_dialog.h"

#include <cstdlib>

#include "app/output_options.h"
#include "platform/ui_host.h"

namespace zembra {

SCropDlg::SCropDlg(const OutputSettings& output, int ws, int hs) : ws_(ws), hs_(hs) {
    CropPixels crop = cropToPixels(output, ws, hs);
    x1 = crop.x1;
    x2 = crop.x2;
    y1 = crop.y1;
    y2 = crop.y2;
}

void SCropDlg::setDefault() {
    x1 = 0;
    x2 = ws_;
    y1 = 0;
    y2 = hs_;
}

bool SCropDlg::ok(UiHost& host, OutputSettings& output) {
    // X to multiples of 4 (down), Y to even values (toward zero).
    auto floor4 = [](int v) { return v >= 0 ? v / 4 * 4 : -((-v + 3) / 4 * 4); };
    x1 = floor4(x1);
    x2 = floor4(x2);
    y1 = y1 / 2 * 2;
    y2 = y2 / 2 * 2;
    auto refuse = [&](const char* key, bool withLimit) {
        std::string text = host.text(key);
        if (withLimit) {
            text += ' ';
            text += std::to_string(ws_);
        }
        host.messageBox(BoxKind::Error, text);
        return false;
    };
    if (x1 < 0 || x1 > ws_) return refuse("STR_ERROR_10", true);
    if (x2 < 0 || x2 > ws_) return refuse("STR_ERROR_11", true);
    if (x2 < x1) return refuse("STR_ERROR_12", false);
    if (std::abs(x2 - x1) <= 15) return refuse("STR_ERROR_13", false);
    if (y2 < y1) return refuse("STR_ERROR_14", false);
    if (std::abs(y2 - y1) <= 15) return refuse("STR_ERROR_15", false);
    if (y1 < 0) y1 -= 2;
    if (y2 < 0) y2 -= 2;
    output.cropLeft = static_cast<double>(x1) / ws_;
    output.cropRight = static_cast<double>(x2) / ws_;
    output.cropTop = static_cast<double>(y1) / hs_;
    output.cropBottom = static_cast<double>(y2) / hs_;
    return true;
}

}  // namespace zembra

#pragma once
// The crop dialog ("Scrop"): the crop rectangle in source pixels.

#include "app/settings_store.h"

namespace zembra {

class UiHost;

class SCropDlg {
public:
    // Opens on the current rectangle of `output` for a source of ws x hs.
    SCropDlg(const OutputSettings& output, int sourceWidth, int sourceHeight);

    int x1, x2, y1, y2;  // the four fields, source pixels

    // "Default": the whole picture.
    void setDefault();
    // OK: rounds and checks the fields; on the first failing check shows its
    // message and returns false (the dialog stays open); otherwise stores the
    // rectangle as fractions into `output`.
    bool ok(UiHost& host, OutputSettings& output);

private:
    int ws_, hs_;
};

}  // namespace zembra

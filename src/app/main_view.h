#pragma once
// What the main window's controller asks of a front end: choosers for
// folders and files, a notice that its state changed, and the preview.

#include <optional>
#include <string>
#include <vector>

#include "geometry/preview.h"

namespace zembra {

// A picture for the preview area.
struct PreviewFrame {
    // 4:2:0 planes: the Width x Height output picture, or in the source
    // view the whole source frame.
    PreviewImage image;
    // The source view (Render Source with the Custom zoom): `image` is
    // stretched into `area`, the rest of the picture area is hatched and
    // the crop rectangle is drawn over it.
    bool sourceView = false;
    PreviewRect area;
    int cropX1 = 0, cropY1 = 0, cropX2 = 0, cropY2 = 0;  // source pixels
    std::string label;  // the crop corners and size when Show Resolution is on
};

class MainView {
public:
    virtual ~MainView() = default;
    // The folder browser; nullopt on cancel.
    virtual std::optional<std::string> chooseFolder(const std::string& title) = 0;
    // A multi-selection open dialog; empty on cancel.
    virtual std::vector<std::string> chooseFiles(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& defaultExtension) = 0;
    // Some control state of the controller changed; redraw from it. Called
    // on the thread that runs the rip while one runs.
    virtual void refresh() {}
    // A new preview picture (from the rip's thread during a rip).
    virtual void drawPreview(const PreviewFrame&) {}
    // The list became empty: the logo replaces the preview.
    virtual void showLogo() {}
};

}  // namespace zembra

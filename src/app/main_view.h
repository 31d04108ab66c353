#pragma once
// What the main window's controller asks of a front end: choosers for
// folders and files, a notice that its state changed, and the preview.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zembra {

// A picture for the preview area: three 4:2:0 planes of width x height.
struct PreviewPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;
    bool empty() const { return width == 0; }
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
    // Some control state of the controller changed; redraw from it.
    virtual void refresh() {}
    // A new preview picture.
    virtual void drawPreview(const PreviewPicture&) {}
};

}  // namespace zembra

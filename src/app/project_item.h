#pragma once
// One file-list row's own copies: settings, title catalogue and the last
// preview picture shown for it.

#include <memory>

#include "app/main_view.h"
#include "app/settings_store.h"
#include "dvd/title_catalogue.h"

namespace zembra {

class DVDProjectItem {
public:
    enum Kind { kVobFile = 0, kIfo = 1 };

    DVDProjectItem(Kind kind, int row, const InputSettings& input, const OutputSettings& output,
                   const TitleCatalogue* catalogue)
        : kind(kind), row(row), input(input), output(output) {
        if (catalogue) this->catalogue = *catalogue;
    }
    virtual ~DVDProjectItem() = default;

    void setInputSettings(const InputSettings& in) { input = in; }
    void setOutputSettings(const OutputSettings& out) { output = out; }
    void setCatalogue(const TitleCatalogue& c) { catalogue = c; }
    void copyCatalogueTo(TitleCatalogue& global) const { global = catalogue; }
    std::unique_ptr<DVDProjectItem> clone() const { return std::make_unique<DVDProjectItem>(*this); }

    Kind kind;
    int row;
    InputSettings input;
    OutputSettings output;
    TitleCatalogue catalogue;
    PreviewPicture snapshot;
};

}  // namespace zembra

#pragma once
// One file-list row's own copies: settings, title catalogue and a decoded
// picture of its title for the preview.

#include <memory>
#include <optional>

#include "app/settings_store.h"
#include "decoder/frame_record.h"
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
    std::unique_ptr<DVDProjectItem> clone() const {
        return std::make_unique<DVDProjectItem>(*this);
    }

    Kind kind;
    int row;
    InputSettings input;
    OutputSettings output;
    TitleCatalogue catalogue;
    FrameRecord snapshot;  // the source frame, shared with the decoder's queue
    // Bit rates and picture size changed in the row's Properties since its
    // format was chosen: the start's second application of the format keeps
    // them (those not changed follow the format).
    struct OwnChoices {
        std::optional<int> videoBitRate, audioBitRate, width, height;
    } own;
};

}  // namespace zembra

#pragma once
// Finds the title sets of a source: a VIDEO_TS folder (or the disc folder
// above it), one IFO file, or a disc image or device whose VIDEO_TS is found
// through UDF. File names are matched without regard to case, as discs copied
// to Linux keep either.

#include <string>
#include <vector>

namespace zembra {

struct TitleSetFiles {
    int number = 0;                 // xx of VTS_xx_0.IFO (0 when the name says nothing)
    std::string ifo;                // plain path, or "<image>:/VIDEO_TS/VTS_xx_0.IFO"
    std::vector<std::string> vobs;  // VTS_xx_1.VOB, VTS_xx_2.VOB, ... in order
};

// Title sets in number order; empty when the source holds none.
std::vector<TitleSetFiles> findTitleSets(const std::string& source);

// The VOB files that go with one IFO: its name up to the last '0' before the
// extension, then 1, 2, ... and ".VOB", stopping at the first one missing.
std::vector<std::string> vobFilesForIfo(const std::string& ifo);

}  // namespace zembra

#pragma once
// What a source named on a command line, dropped on the window or given by
// the desktop is, and so which Open command takes it: the command line, the
// window's arguments and drag and drop all ask here.

#include <string>
#include <string_view>
#include <vector>

namespace zembra {

enum class SourceKind {
    Dvd,  // a folder (VIDEO_TS or the disc's top folder), a disc image or a drive: Open DVD
    Ifo,  // one title set's IFO file: Open IFO
    Vob,  // any other file, read as a VOB or MPEG stream: Open VOB
};

// The endings of the disc images the DVD reader takes, in lower case
// (".iso", ".img", ...), for file choosers' filters.
const std::vector<std::string_view>& discImageExtensions();
// True for those names, in any case.
bool isDiscImageName(std::string_view path);

// A folder or a block device by what it is on disk, a file by its name. A
// path that does not exist is judged by its name too, so that the Open
// command it goes to reports it as missing.
SourceKind sourceKindOf(const std::string& path);

}  // namespace zembra

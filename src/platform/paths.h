#pragma once
// Folders of the program and the user, and file names matched without regard
// to case (discs copied to Linux keep VTS_01_1.VOB or vts_01_1.vob).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembra {

// Folder of the running executable, ending in '/'. ZEMBRA_PROGRAM_DIR, when
// set, stands in for it (tests and installed copies use it).
std::string programFolder();
// An installed program: no langs/ beside it, its language files in
// <prefix>/share/zembra/langs/ with the program in <prefix>/bin/.
bool isInstalledProgram(const std::string& programDir);
// The language files the program came with: langs/ beside it (a build
// folder or an unpacked copy), else those of its installation; ending in '/'.
std::string shippedLanguageFolder(const std::string& programDir);
// Where config.ini, options.ini and langs/ live: the program folder when it
// is writable and not an installation's (whose bin/ even root must not fill
// with settings), else $XDG_CONFIG_HOME/zembra/ (~/.config/zembra/), ending
// in '/'.
std::string settingsFolder(const std::string& programDir);
// $XDG_DOCUMENTS_DIR, else $HOME/Documents, ending in '/'. Not created here.
std::string documentsFolder();

// Appends '/' unless the path already ends in one (an empty path stays empty).
std::string withTrailingSlash(std::string path);
bool equalsNoCase(std::string_view a, std::string_view b);
// Wildcard match with '*' and '?', without regard to ASCII case.
bool matchNoCase(std::string_view pattern, std::string_view name);

// Regular files (not folders) of a folder whose names match the pattern,
// sorted by name without regard to case. A missing folder gives none.
std::vector<std::filesystem::path> findFilesNoCase(const std::filesystem::path& folder,
                                                   std::string_view pattern);
// The file of a folder whose name equals `name` without regard to case; the
// exact spelling is preferred when both exist.
std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& folder,
                                                    std::string_view name);
// A path whose last part is matched without regard to case in its folder;
// the path itself when it exists as written or nothing matches.
std::filesystem::path resolveNoCase(const std::filesystem::path& path);

}  // namespace zembra

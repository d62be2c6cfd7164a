#pragma once
#include <optional>
#include <string>

namespace installer {

// Puts the suffix of the last-used server's symbols into the chart files of
// the copy's last-used profile. Every failure skips its item silently.
void fixChartSymbols(const std::string& root);

// The suffix (possibly empty) from the newest history\<server>\symbols.sel,
// "downloads" excepted; none when no usable file is found.
std::optional<std::string> readSymbolSuffix(const std::string& root);

// The profile named by profilesFolder\lastprofile.ini, or "default".
std::string readLastProfile(const std::string& profilesFolder);

// Rewrites the symbol line of each profiles\<last profile>\*.chr file.
void rewriteChartSymbols(const std::string& root, const std::string& suffix);

}  // namespace installer

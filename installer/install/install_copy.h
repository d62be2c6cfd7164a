#pragma once
#include <windows.h>

#include <string>

namespace installer {

// Deletes, makes folders, copies every [Install] file of the package into the
// copy, then writes the markers. False when a source was missing or a copy
// failed without its ignore flag. `messageOwner` (or none) owns the InUse
// message of a failed copy.
bool installIntoCopy(const std::string& iniPath, const std::string& root, bool newlyInstalledCopy, HWND messageOwner);

// [Settings] LastScanTime= (empty) in the copy's config\terminal.ini.
void markNewInstallation(const std::string& root);

// [Settings] LastScanHash in the copy's config\terminal.ini.
void writeHideHelpMarker(const std::string& root);

}  // namespace installer

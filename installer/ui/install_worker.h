#pragma once
// The step that installs the add-on into every chosen copy, one after
// another, with the progress window up meanwhile.
#include "installer/config/install_request.h"

namespace installer {

// Installs into every chosen copy in order, stopping at the first failure.
// 1 when all succeeded (also with no copy), else 0.
int installIntoChosenCopies(InstallRequest& request, bool newlyInstalledCopy);

}  // namespace installer

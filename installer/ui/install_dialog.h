#pragma once
// The install dialog: the copies of MT4 that discovery found, the folder
// browser for others, and the choice handed back in the request.
#include <windows.h>

#include "installer/config/install_request.h"

namespace installer {

// Shows the "InstallDialog2" dialog modally on this thread, with no owner.
// Fills the request's copyCount and copyPaths with the chosen copies, in list
// order (at most 1000); copyCount stays 0 when the user closed the dialog.
// 1 after Install, 0 after Escape or the close box.
INT_PTR showInstallDialog(InstallRequest& request);

}  // namespace installer

#pragma once
// The install dialog's web advert, from the advert server named at build time.
#include <windows.h>

namespace installer {

// Shows the advert page for infoId inside the placeholder window; nothing for
// an infoId of 0 or less. A page that cannot be shown is left out silently.
void showAdvert(HWND placeholder, int infoId);

}  // namespace installer

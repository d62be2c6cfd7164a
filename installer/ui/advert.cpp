#include "installer/ui/advert.h"

#include <string>

#include "installer/ui/advert_url.h"
#include "installer/ui/maker_site.h"

namespace installer {

void showAdvert(HWND placeholder, int infoId) {
  const std::string url = advertUrl(MARVOLT_ADVERT_HOST, infoId);
  if (url.empty() || !placeholder) return;
  // The embedded browser is hosted here once it is part of the installer.
}

}  // namespace installer

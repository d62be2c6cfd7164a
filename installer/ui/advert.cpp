#include "installer/ui/advert.h"

#include <string>

#include "installer/ui/advert_url.h"
#include "installer/ui/maker_site.h"
#include "installer/web/browser_host.h"

namespace installer {

void showAdvert(HWND placeholder, int infoId) {
  const std::string url = advertUrl(MARVOLT_ADVERT_HOST, infoId);
  if (url.empty() || !placeholder) return;
  showWebPageIn(placeholder, url);  // decoration only: a failure leaves the space empty
}

}  // namespace installer

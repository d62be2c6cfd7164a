#include "installer/ui/advert_url.h"

namespace installer {

std::string advertUrl(std::string_view host, int infoId) {
  if (infoId <= 0) return {};
  return "http://" + std::string(host) + "/adverts/htmladvert.aspx?sid=" + std::to_string(infoId) + "&data2=12";
}

}  // namespace installer

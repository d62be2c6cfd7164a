#pragma once
#include <string>
#include <string_view>

namespace installer {

// The install dialog's advert page: "http://" + host +
// "/adverts/htmladvert.aspx?sid=<infoId>&data2=12", or "" when infoId is 0 or
// less (the package shows no advert).
std::string advertUrl(std::string_view host, int infoId);

}  // namespace installer

#include "installer/web/page_address.h"

namespace installer {

std::string termsPageAddress(std::string_view agreementUrl, std::string_view programPath) {
  if (agreementUrl.find("://") != std::string_view::npos) return std::string(agreementUrl);
  const auto slash = programPath.rfind('\\');
  std::string address(slash == std::string_view::npos ? std::string_view() : programPath.substr(0, slash + 1));
  address += agreementUrl;
  return address;
}

std::string brokerPageAddress(std::string_view host, int packageId, std::string_view downloadId,
                              std::string_view computerId) {
  std::string address = "http://";
  address += host;
  address += "/appstore/BrokerSelectionDialog.aspx?pid=";
  address += std::to_string(packageId);
  address += "&did=";
  address += downloadId;
  address += "&cid=";
  address += computerId;
  if (address.size() > kBrokerPageAddressBound) address.resize(kBrokerPageAddressBound);
  return address;
}

}  // namespace installer

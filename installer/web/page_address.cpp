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

namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// "scheme://host:port" of a web address, lower-cased, the port always
// written; "" for any other address.
std::string originOf(std::string_view address) {
  std::string_view scheme, defaultPort;
  if (startsWithIgnoringCase(address, "http://")) {
    scheme = "http", defaultPort = "80";
  } else if (startsWithIgnoringCase(address, "https://")) {
    scheme = "https", defaultPort = "443";
  } else {
    return {};
  }
  std::string_view authority = address.substr(scheme.size() + 3);
  authority = authority.substr(0, authority.find_first_of("/?#\\"));
  // Whoever@host: the user part is no part of the origin.
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::string_view host = authority, port = defaultPort;
  const auto colon = authority.rfind(':');
  if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
    host = authority.substr(0, colon);
    if (colon + 1 < authority.size()) port = authority.substr(colon + 1);
  }
  if (host.empty()) return {};
  return std::string(scheme) + "://" + lowerAscii(host) + ":" + std::string(port);
}

}  // namespace

bool isWebAddress(std::string_view address) {
  return startsWithIgnoringCase(address, "http://") || startsWithIgnoringCase(address, "https://");
}

bool sameOrigin(std::string_view first, std::string_view second) {
  const std::string origin = originOf(first);
  return !origin.empty() && origin == originOf(second);
}

}  // namespace installer

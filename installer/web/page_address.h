#pragma once
#include <string>
#include <string_view>

// The addresses of the installer's embedded pages.
namespace installer {

// An [Licensing] AgreementUrl without "://" names a file beside the program:
// it gets the program's folder (up to and including its last backslash).
std::string termsPageAddress(std::string_view agreementUrl, std::string_view programPath);

// The app-store server's broker page for this package and computer, cut to
// 1,999 characters.
std::string brokerPageAddress(std::string_view host, int packageId, std::string_view downloadId,
                              std::string_view computerId);

inline constexpr std::size_t kBrokerPageAddressBound = 1999;

}  // namespace installer

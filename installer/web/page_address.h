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

// Only "http://" and "https://" addresses (scheme in any case) may reach the
// shell from a page, a server or the network: anything else ("cmd.exe",
// "file:", a share) would start a program.
bool isWebAddress(std::string_view address);

// Both addresses web addresses of one origin: scheme, host and port equal
// (scheme and host without regard to ASCII case, a missing port as the
// scheme's own).
bool sameOrigin(std::string_view first, std::string_view second);

}  // namespace installer

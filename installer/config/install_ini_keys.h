#pragma once
#include <cstddef>

// Every key of install.ini that the installer reads, with its default and its
// bound in characters (without the terminator). The installer only reads the file.
namespace installer {

struct TextKey {
  const char* section;
  const char* key;
  const char* defaultValue;
  std::size_t bound;
};

struct IntKey {
  const char* section;
  const char* key;
  int defaultValue;
};

namespace keys {
inline constexpr TextKey Caption{"Info", "Caption", "Add-on for MetaTrader 4", 999};
inline constexpr IntKey InfoId{"Info", "InfoId", 1000};
inline constexpr IntKey PackageId{"Info", "PackageId", 0};
inline constexpr TextKey DownloadId{"Info", "DownloadId", "", 98};
inline constexpr TextKey LimitToBroker{"Info", "LimitToBroker", "", 98};
inline constexpr IntKey SetNewInstallationMarker{"Info", "SetNewInstallationMarker", 0};
inline constexpr IntKey DoChartSymbolFixup{"Info", "DoChartSymbolFixup", 0};
inline constexpr IntKey HideHelp{"Info", "HideHelp", 0};
inline constexpr IntKey HideHelp2{"Info", "HideHelp2", 0};
inline constexpr IntKey VersionCheck{"DotNet", "VersionCheck", 0};
inline constexpr TextKey AgreementUrl{"Licensing", "AgreementUrl", "", 998};
inline constexpr TextKey MT4Location{"MT4Install", "MT4Location", "", 998};
inline constexpr TextKey SetupSigner{"MT4Install", "SetupSigner", "", 255};
inline constexpr TextKey MessageUrl1{"Messages", "MessageUrl1", "", 998};
inline constexpr TextKey MessageUrl2{"Messages", "MessageUrl2", "", 998};
inline constexpr TextKey MessageUrl3{"Messages", "MessageUrl3", "", 998};
inline constexpr TextKey WebPage3{"Webpages", "WebPage3", "", 2047};
}  // namespace keys

// Sections whose keys are listed rather than named.
namespace sections {
inline constexpr const char* Install = "Install";
inline constexpr const char* Directories = "Directories";
inline constexpr const char* Delete = "Delete";
inline constexpr const char* Run = "Run";
}  // namespace sections

// Values of [Install] and [Run] entries.
inline constexpr std::size_t kEntryValueBound = 9998;

}  // namespace installer

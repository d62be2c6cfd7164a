#pragma once
#include <cstddef>
#include <span>

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
// A file name below the temporary folder; no log without it.
inline constexpr TextKey LogFile{"Info", "LogFile", "", 259};
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

// The names of a listed section are read into this many characters, each
// name with its terminator and an empty name at the end.
inline constexpr std::size_t kKeyListSize = 9999;

// Every key the installer reads, in one table: the checker and the reference
// of install.ini are held to it.
enum class KeyType { Text, Integer, Prompt };
struct KnownKey {
  const char* section;
  const char* key;
  KeyType type;
  const char* defaultText;  // Text and Prompt keys
  int defaultNumber;        // Integer keys
  std::size_t bound;        // characters kept of a Text or Prompt value
};
std::span<const KnownKey> knownKeys();

// Sections whose keys are listed; `valueBound` is 0 where values are ignored.
struct ListedSection {
  const char* name;
  std::size_t valueBound;
};
std::span<const ListedSection> listedSections();

// The registry key name below "SOFTWARE\Microsoft\NET Framework Setup\NDP\"
// for a [DotNet] VersionCheck value, or null when the value asks for nothing.
const char* dotNetKeyName(int versionCheck);

}  // namespace installer

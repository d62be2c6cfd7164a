#pragma once
// Keeping the downloaded MetaTrader 4 setup program out of reach until it
// runs, and running it only when a publisher the installer trusts signed it.
#include <windows.h>

#include <string>
#include <vector>

namespace installer {

// A new folder below the temporary folder, its name from random bytes of the
// system, that only Administrators and SYSTEM may write into: nobody else
// can swap the download or plant a DLL beside it. Removed with whatever is
// left in it.
class SetupFolder {
 public:
  SetupFolder();
  ~SetupFolder();
  SetupFolder(const SetupFolder&) = delete;
  SetupFolder& operator=(const SetupFolder&) = delete;
  explicit operator bool() const { return !path_.empty(); }
  const std::string& path() const { return path_; }  // with its backslash; "" when it could not be made

 private:
  std::string path_;
};

// True when the open file carries a valid Authenticode signature (its whole
// chain checked, no user interface) whose signer's certificate names one of
// `accepted` as its organization or common name. Unsigned, tampered, signed
// by anyone else, or no signature check on this system: false.
bool signedByAcceptedPublisher(HANDLE file, const std::string& path, const std::vector<std::string>& accepted);

// The publishers this run accepts: the build's list and the package's
// [MT4Install] SetupSigner.
std::vector<std::string> setupSignersOf(const std::string& iniPath);

}  // namespace installer

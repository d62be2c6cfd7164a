#pragma once
// Registry entries through which discovery finds copies of MT4, made by a
// test and removed with the object.
#include <string>
#include <vector>

namespace testing_support {

class RegistryEntries {
 public:
  RegistryEntries() = default;
  ~RegistryEntries();
  RegistryEntries(const RegistryEntries&) = delete;
  RegistryEntries& operator=(const RegistryEntries&) = delete;

  // An installed program, below the local machine's Uninstall key.
  bool uninstallEntry(const std::string& name, const std::string& uninstallString);
  // A shared-file count, below the local machine's SharedDlls key.
  bool sharedDll(const std::string& path);
  // The per-user MetaTrader 4 key's InstallPath.
  bool userInstallPath(const std::string& path);

 private:
  std::vector<std::string> uninstallKeys_, sharedValues_;
  bool userKey_ = false;
};

}  // namespace testing_support

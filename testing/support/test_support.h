#pragma once
// Helpers of the Windows-side tests: scratch folders, files, child processes.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "testing/support/host_path.h"

namespace testing_support {

// Asks `done` every 20 ms until it holds or the time is up; its last answer.
bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The threads a process runs now.
std::size_t threadCount(DWORD processId);

// A folder of its own below the temporary folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "t");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
void makeFolders(const std::string& path);  // every missing folder of the path

// The folders of a copy of MT4 as the installer sees one (experts and config
// below the root), made with every missing parent. Returns the root.
std::string makeSampleCopy(const std::string& root);
void removeTree(const std::string& path);

// Files and folders a test makes outside its scratch folders (in the Windows
// or system folders, at a fixed place like C:\mt4): removed when the object
// goes, also when the test stops early on a failure.
class RemovedAtEnd {
 public:
  RemovedAtEnd() = default;
  ~RemovedAtEnd();
  RemovedAtEnd(const RemovedAtEnd&) = delete;
  RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;
  std::string add(const std::string& path) {
    paths_.push_back(path);
    return path;
  }

 private:
  std::vector<std::string> paths_;
};

// A program started by a test, killed if the test ends before it does.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Runs `program` with `arguments` (the text after the program's name).
  bool start(const std::string& program, const std::string& arguments, const std::string& folder = "");
  DWORD id() const { return info_.dwProcessId; }
  HANDLE handle() const { return info_.hProcess; }
  // The exit code, or STILL_ACTIVE when it has not ended within the time.
  DWORD waitForExit(DWORD timeoutMs);
  void kill();

 private:
  PROCESS_INFORMATION info_ = {};
};

// True for a 32-bit program on 64-bit Windows (WOW64).
bool isWow64Process();

// File system redirection off for the calling thread while this lives, as a
// 32-bit installer turns it off on its main thread: "system32" is then the
// real 64-bit system folder. Does nothing outside WOW64.
class Wow64RedirectionOff {
 public:
  Wow64RedirectionOff();
  ~Wow64RedirectionOff();
  Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
  Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;
  bool active() const { return active_; }

 private:
  PVOID previous_ = nullptr;
  bool active_ = false;
};

}  // namespace testing_support

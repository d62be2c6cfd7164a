#pragma once
// Stands the recorder in for the browser: while an object lives, the shell
// opens http and https addresses with recorder.exe, which writes down each
// address it was given. The earlier handlers come back afterwards.
#include <string>
#include <vector>

#include "testing/support/test_support.h"

namespace test_terminal {

class ShellOpenRecorder {
 public:
  ShellOpenRecorder();
  ~ShellOpenRecorder();
  ShellOpenRecorder(const ShellOpenRecorder&) = delete;
  ShellOpenRecorder& operator=(const ShellOpenRecorder&) = delete;
  // The addresses opened so far, in order.
  std::vector<std::string> opened() const;

 private:
  testing_support::TempDir dir_{"shell"};
  std::string log_;
  std::string previous_[2];
};

// A program that must never be started: a copy of the recorder at a path of
// its own, which leaves a file behind when anything starts it.
class StartMarker {
 public:
  StartMarker();
  StartMarker(const StartMarker&) = delete;
  StartMarker& operator=(const StartMarker&) = delete;
  const std::string& program() const { return program_; }
  bool started() const;

 private:
  testing_support::TempDir dir_{"marker"};
  std::string program_;
};

}  // namespace test_terminal

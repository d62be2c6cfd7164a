// robot drive [--answer CAPTION=BUTTON]... [--shots FOLDER] PROGRAM [ARGUMENTS]
//
// Starts PROGRAM, and while it runs answers each dialog it shows as a person
// would: the button named for its caption, else Yes, else OK. Prints every
// dialog it saw and the program's exit code, which becomes its own.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "testing/robot/robot.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: robot drive [--answer CAPTION=BUTTON]... [--shots FOLDER] PROGRAM "
               "[ARGUMENTS]\n");
  return 2;
}

std::string oneLine(std::string text) {
  std::string out;
  // A line break (CR LF, or a lone CR or LF) is shown as " / ".
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i] == '\r' || text[i] == '\n' ? std::string(" / ") : std::string(1, text[i]);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "drive") return usage();
  std::map<std::string, std::string> answers;
  std::string shots;
  int at = 2;
  for (; at < argc; ++at) {
    const std::string arg = argv[at];
    if (arg == "--answer" && at + 1 < argc) {
      const std::string rule = argv[++at];
      const auto eq = rule.rfind('=');
      if (eq == std::string::npos) return usage();
      answers[rule.substr(0, eq)] = rule.substr(eq + 1);
    } else if (arg == "--shots" && at + 1 < argc) {
      shots = argv[++at];
    } else {
      break;
    }
  }
  if (at >= argc) return usage();
  const std::string program = argv[at++];
  std::string arguments;
  for (; at < argc; ++at) arguments += (arguments.empty() ? "" : " ") + std::string(argv[at]);

  std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Started in its own folder, as a double click in the package folder would.
  const std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    std::printf("robot: cannot start %s (error %lu)\n", program.c_str(), GetLastError());
    return 1;
  }
  int shot = 0;
  robot::answerUntilExit(
      process.hProcess, process.dwProcessId,
      [&](const robot::Dialog& dialog) {
        // A dialog with a list (the installer's copies) is shown with each
        // line and whether it is selected.
        HWND list = FindWindowExA(dialog.window, nullptr, "ListBox", nullptr);
        std::printf("robot: %s \"%s\" [%s]\n", dialog.buttons.empty() ? "window" : "dialog", dialog.caption.c_str(),
                    list                     ? "copy list"
                    : dialog.buttons.empty() ? "no buttons"
                                             : robot::styleText(dialog.style).c_str());
        if (!dialog.text.empty()) std::printf("robot:   text: %s\n", oneLine(dialog.text).c_str());
        if (list) {
          const auto lines = robot::listLines(list);
          const auto selected = robot::selectedLines(list);
          for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
            const bool on = std::find(selected.begin(), selected.end(), i) != selected.end();
            std::printf("robot:   list: [%s] %s\n", on ? "x" : " ", lines[i].c_str());
          }
        }
        if (!shots.empty()) {
          const std::string file = shots + "\\dialog" + std::to_string(++shot) + ".png";
          if (robot::saveScreenshot(dialog.window, file)) std::printf("robot:   screenshot: %s\n", file.c_str());
        }
        const auto rule = answers.find(dialog.caption);
        // A rule names a button of one dialog; another window of the same
        // caption (a progress window) is answered as usual.
        const bool ruled = rule != answers.end() && std::find(dialog.buttons.begin(), dialog.buttons.end(),
                                                              rule->second) != dialog.buttons.end();
        const std::string button = ruled ? rule->second : robot::goOnButton(dialog);
        if (!button.empty()) std::printf("robot:   clicks \"%s\"\n", button.c_str());
        std::fflush(stdout);
        return button;
      },
      INFINITE);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("robot: %s ended with exit code %lu\n", program.c_str(), code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

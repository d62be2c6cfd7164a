#pragma once
#include <string>

#include <windows.h>

#include "installer/config/prompt_texts.h"

// Every text the installer shows comes from [Text] of install.ini, each with a
// built-in default. A message box is shown only when its text and its caption
// are both non-empty, so a package silences a message by emptying either key.
namespace installer {

// Reads [Text] `key` into 2,000 characters (a longer value is cut to 1,998),
// with every "~" turned into a carriage return. A present-but-empty key gives
// an empty text, a missing one the default.
std::string readPrompt(const std::string& iniPath, const char* key, const char* defaultText);

// Shows the message box only when text and caption are both non-empty;
// otherwise shows nothing and returns 0.
int showPromptMessage(HWND owner, const std::string& text, const std::string& caption, UINT style);

// Reads a prompt's text and caption and shows it through showPromptMessage.
int showPrompt(const std::string& iniPath, HWND owner, const Prompt& prompt, UINT style);

// The few fixed messages that install.ini cannot change: the text names the
// file or key concerned.
inline constexpr const char* kMissingFileCaption = "File missing from installation";
inline constexpr const char* kNoDestinationCaption = "No destination for file";
inline constexpr const char* kListTooLongCaption = "Installer error";

// Shows a message box and writes it, and the answer, into the run's log.
int showLoggedMessage(HWND owner, const std::string& text, const char* caption, UINT style);

// A fixed message: error icon, system-modal, no owner window.
void showFixedError(const std::string& text, const char* caption);

// A dialog of the run could not be made (the window system refused it): the
// fixed message naming the system's error is shown when a message box can
// be, and the run is marked failed, so that it ends with exit code 1 rather
// than as if the user had chosen nothing.
void reportDialogFailure(DWORD error);
bool dialogFailed();

}  // namespace installer

#pragma once
// The [Text] keys of install.ini: every message and dialog label the
// installer shows, each with its built-in default.
namespace installer {

struct Prompt {
  const char* textKey;
  const char* defaultText;
  const char* captionKey;  // null: the caller names the caption
  const char* defaultCaption;
};

namespace prompts {
inline constexpr Prompt Success{
    "Success",
    "The software has been successfully installed.\r\n\r\nActive copies of MetaTrader may need to "
    "be restarted for the changes to appear in the Navigator.",
    "SuccessCaption", "Install successful"};
inline constexpr Prompt Error{"Error", "Installation of the software was not successful.", "ErrorCaption",
                              "Install failed"};
inline constexpr Prompt NotMT4{
    "NotMT4",
    "The selected folder is not the root directory of a copy of MetaTrader 4 (containing the "
    "terminal.exe application).",
    "NotMT4Caption", "Not MT4"};
// The caption of InUse is the [Install] key of the file that failed.
inline constexpr Prompt InUse{
    "InUse",
    "File install failed. Please check that this copy of MetaTrader is NOT currently running.\r\n"
    "\r\nFiles cannot be updated if they are currently in use by MetaTrader.",
    nullptr, nullptr};
inline constexpr Prompt MustSelect{"MustSelect", "Please select one or more copies of MT4 from the list",
                                   "MustSelectCaption", "Select copy of MT4"};
inline constexpr Prompt Err1Display{"Err1", "Unable to display the terms and conditions", "ErrCaption",
                                    "Installer error"};
inline constexpr Prompt Err1Load{"Err1", "Unable to load the terms and conditions", "ErrCaption", "Installer error"};
inline constexpr Prompt Err2{"Err2", "Unable to load the terms and conditions", "ErrCaption", "Installer error"};
inline constexpr Prompt Err3{"Err3",
                             "Unable to establish the download location for the copy of "
                             "MetaTrader 4",
                             "ErrCaption", "Installer error"};
inline constexpr Prompt Err4{"Err4", "Unable to download the installer for MetaTrader 4", "ErrCaption",
                             "Installer error"};
inline constexpr Prompt Err5{"Err5", "Unable to run the installer for MetaTrader 4", "ErrCaption", "Installer error"};
inline constexpr Prompt UntrustedSetup{"UntrustedSetup",
                                       "The downloaded MetaTrader 4 setup program is not signed by a publisher "
                                       "this installer trusts. It was not run.",
                                       "ErrCaption", "Installer error"};
inline constexpr Prompt Aborted{"Aborted", "Installation aborted", "AbortedCaption", "Installation aborted"};
}  // namespace prompts

// Labels of the install dialog, read like the prompts.
struct Label {
  const char* key;
  const char* defaultText;
};

namespace labels {
inline constexpr Label DialogText1{
    "DialogText1",
    "Please choose where to install the software. You can use the \"Find MT4\" button to select "
    "any copies of MT4 not already listed. Installation may fail if you are updating files which "
    "are currently in use by active copies of MT4."};
inline constexpr Label DialogText2{"DialogText2", "Choose copies of MetaTrader 4"};
inline constexpr Label DialogText3{"DialogText3", "Find MT4"};
inline constexpr Label DialogText4{"DialogText4", "Install"};
inline constexpr Label DialogText5{"DialogText5", "Select all"};
inline constexpr Label DialogText6{"DialogText6", "Invert"};
}  // namespace labels

// A [Text] value is read into 2,000 characters; a longer one is cut to this.
inline constexpr unsigned kPromptBound = 1998;

}  // namespace installer

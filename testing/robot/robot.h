#pragma once
// A person at the installer, for tests: finds a program's dialogs and message
// boxes by caption, reads them, clicks their buttons and takes screenshots.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace robot {

struct Dialog {
  HWND window = nullptr;
  DWORD processId = 0;
  HWND owner = nullptr;
  std::string caption;
  std::string text;                  // the longest static text: a message box's message
  std::vector<std::string> buttons;  // button texts without "&", in child order
  UINT style = 0;                    // message-box style read back: buttons, icon, MB_SYSTEMMODAL
};

inline constexpr DWORD kAnyProcess = 0;

// Visible top-level windows of a process (or of every process) in z-order.
std::vector<HWND> topLevelWindows(DWORD processId);

// Reads a window as a dialog: caption, texts, buttons and message-box style.
Dialog describe(HWND window);

// Waits until a visible top-level window of the process has exactly this
// caption, then describes it. Null when none appears within the time.
std::optional<Dialog> waitForDialog(DWORD processId, std::string_view caption, DWORD timeoutMs);

// Waits for any visible top-level window of the process that is not in `known`.
std::optional<Dialog> waitForAnyDialog(DWORD processId, const std::vector<HWND>& known, DWORD timeoutMs);

// Clicks the button whose text (without "&") is `button`; false when the
// dialog has none or it is disabled (a person cannot click it then).
bool clickButton(const Dialog& dialog, std::string_view button);

// Clicks a control that reports clicks (a static with SS_NOTIFY, such as a
// link): the dialog hears STN_CLICKED from it.
bool clickControl(HWND dialog, int controlId);

// The Escape key pressed in a dialog.
bool pressEscape(HWND dialog);

// The close box of a window's caption clicked.
bool clickCloseBox(HWND window);

// The lines of a list box (of any process), in list order.
std::vector<std::string> listLines(HWND list);

// Indexes of the selected lines of a list box, in list order.
std::vector<int> selectedLines(HWND list);

// A click on one line of a multiple-selection list box: the line's selection
// becomes `selected`.
bool selectLine(HWND list, int index, bool selected);

// In the shell's folder browser (of any process): waits until it has filled
// its folder tree, selects the folder, and clicks OK once the tree shows it
// selected. The browser's own edit box is not used: Wine's does not work.
bool chooseFolder(const Dialog& browser, const std::string& folder, DWORD timeoutMs);

// What the screen shows of a window's client area: red, green, blue bytes per
// pixel, row by row.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  COLORREF at(int x, int y) const;
};
Picture capture(HWND window);

// What `choose` answers for a dialog that is not ready yet: it is handed
// over again on a later round.
inline const std::string kNotYet = "\x01";
// What `choose` answers to press Escape in the dialog instead of clicking.
inline const std::string kEscape = "\x1b";

// Until the process ends (or the time runs out), hands each new dialog it
// shows to `choose` and clicks the button it names (none for ""). Returns
// every dialog seen, in order.
// Windows in `known` are not handed over.
std::vector<Dialog> answerUntilExit(HANDLE process, DWORD processId,
                                    const std::function<std::string(const Dialog&)>& choose, DWORD timeoutMs,
                                    std::vector<HWND> known = {});

// Runs `work` on a thread of its own while this thread answers the dialogs it
// shows in this process. Should `work` still be running after the time, its
// windows are answered with goOnButton until it ends, so a test never hangs.
std::vector<Dialog> answerWhile(const std::function<void()>& work,
                                const std::function<std::string(const Dialog&)>& choose, DWORD timeoutMs);

// The button a person wanting to go on would click: Yes, else OK, else the first.
std::string goOnButton(const Dialog& dialog);

// Saves what the screen shows of a window as a PNG file.
bool saveScreenshot(HWND window, const std::string& pngPath);

// Describes a message-box style as text: "YesNo|Question|SystemModal".
std::string styleText(UINT style);

}  // namespace robot

#include "installer/ui/install_dialog.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/config/run_log.h"
#include "installer/discovery/copy_lines.h"
#include "installer/discovery/discovery.h"
#include "installer/ui/advert.h"
#include "installer/ui/maker_site.h"
#include "installer/ui/resource.h"

namespace installer {

namespace {

constexpr const char* kRequestProperty = "CallbackPointer";
constexpr const char* kProductIconProperty = "Icon";
constexpr const char* kMakerIconProperty = "ZelkIcon";

InstallRequest& requestOf(HWND dialog) { return *static_cast<InstallRequest*>(GetPropA(dialog, kRequestProperty)); }

HWND copyList(HWND dialog) { return GetDlgItem(dialog, IDC_COPY_LIST); }

int lineCount(HWND list) { return static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)); }

// The text of a line, or false when it cannot be read.
bool readLine(HWND list, int index, std::string& text) {
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR) return false;
  text.assign(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got = SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  if (got == LB_ERR) return false;
  text.resize(static_cast<std::size_t>(got));
  return true;
}

void setLabel(HWND dialog, int id, const std::string& iniPath, const Label& label) {
  SetDlgItemTextA(dialog, id, readPrompt(iniPath, label.key, label.defaultText).c_str());
}

// The first icon of terminal.ico beside the program, or null.
HICON loadProductIcon() {
  char program[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::string path(program, length);
  path.erase(path.rfind('\\') + 1);
  path += "terminal.ico";
  HICON icon = ExtractIconA(GetModuleHandleA(nullptr), path.c_str(), 0);
  // ExtractIcon answers 1 for a file that is not an icon file at all.
  return reinterpret_cast<UINT_PTR>(icon) > 1 ? icon : nullptr;
}

// Made once and kept until the process ends, like the icons.
HFONT titleFont() {
  static HFONT font = CreateFontA(22, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
                                  CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, nullptr);
  return font;
}

void onOpen(HWND dialog, InstallRequest& request) {
  request.copyCount = 0;
  SetPropA(dialog, kRequestProperty, &request);

  const std::string caption = readText(request.iniPath, keys::Caption);
  SetWindowTextA(dialog, caption.c_str());
  SetDlgItemTextA(dialog, IDC_TITLE, caption.c_str());

  setLabel(dialog, IDC_INSTRUCTIONS, request.iniPath, labels::DialogText1);
  setLabel(dialog, IDC_COPY_FRAME, request.iniPath, labels::DialogText2);
  setLabel(dialog, IDC_FIND_MT4, request.iniPath, labels::DialogText3);
  setLabel(dialog, IDC_INSTALL, request.iniPath, labels::DialogText4);
  setLabel(dialog, IDC_SELECT_ALL, request.iniPath, labels::DialogText5);
  setLabel(dialog, IDC_INVERT, request.iniPath, labels::DialogText6);

  if (HICON icon = loadProductIcon()) {
    SendDlgItemMessageA(dialog, IDC_PRODUCT_ICON, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetPropA(dialog, kProductIconProperty, icon);
  }

  SendDlgItemMessageA(dialog, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont()), FALSE);

  HWND list = copyList(dialog);
  for (const auto& line : fillCopyList(request)) {
    logStep("copy found: " + line);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    EnableWindow(GetDlgItem(dialog, IDC_INSTALL), TRUE);
  }
  if (lineCount(list) == 1) SendMessageA(list, LB_SETSEL, TRUE, 0);

  SetPropA(dialog, kMakerIconProperty, LoadIconA(GetModuleHandleA(nullptr), "ZELKICON"));

  if (HWND placeholder = GetDlgItem(dialog, IDC_ADVERT)) {
    SetWindowTextA(placeholder, "");
    showAdvert(placeholder, readInt(request.iniPath, keys::InfoId));
  }
}

// The chosen lines' folders, in list order; the request holds 1000 at most.
void onInstall(HWND dialog) {
  InstallRequest& request = requestOf(dialog);
  HWND list = copyList(dialog);
  if (SendMessageA(list, LB_GETSELCOUNT, 0, 0) <= 0) {
    showPrompt(request.iniPath, dialog, prompts::MustSelect, MB_ICONWARNING);
    return;
  }
  const int count = lineCount(list);
  std::string line;
  for (int i = 0; i < count && request.copyCount < kMaxCopies; ++i) {
    if (SendMessageA(list, LB_GETSEL, i, 0) <= 0 || !readLine(list, i, line)) continue;
    request.copyPaths[request.copyCount++] = std::string(copyPathOfLine(line));
  }
  EndDialog(dialog, 1);
}

// A browsed folder equal to a whole line (in any letter case) selects that
// line; otherwise it becomes a line of its own.
void onFindMt4(HWND dialog) {
  const std::string folder = browseForCopy(requestOf(dialog).iniPath, dialog);
  if (folder.empty()) return;
  HWND list = copyList(dialog);
  const int count = lineCount(list);
  std::string line;
  for (int i = 0; i < count; ++i) {
    if (readLine(list, i, line) && lstrcmpiA(line.c_str(), folder.c_str()) == 0) {
      SendMessageA(list, LB_SETSEL, TRUE, i);
      return;
    }
  }
  const LRESULT added = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder.c_str()));
  if (added >= 0) SendMessageA(list, LB_SETSEL, TRUE, added);
  EnableWindow(GetDlgItem(dialog, IDC_INSTALL), TRUE);
}

void onInvert(HWND dialog) {
  HWND list = copyList(dialog);
  const int count = lineCount(list);
  for (int i = 0; i < count; ++i)
    SendMessageA(list, LB_SETSEL, SendMessageA(list, LB_GETSEL, i, 0) > 0 ? FALSE : TRUE, i);
}

void openMakerSite() { ShellExecuteA(nullptr, "open", MARVOLT_MAKER_URL, nullptr, nullptr, SW_SHOWNORMAL); }

void onCommand(HWND dialog, int id, int code) {
  switch (id) {
    case IDC_INSTALL: onInstall(dialog); break;
    case IDC_FIND_MT4: onFindMt4(dialog); break;
    case IDC_SELECT_ALL: SendMessageA(copyList(dialog), LB_SETSEL, TRUE, -1); break;
    case IDC_INVERT: onInvert(dialog); break;
    case IDC_MAKER_LINK:
    case IDC_MAKER_ICON:
      if (code == STN_CLICKED) openMakerSite();
      break;
    case IDCANCEL: EndDialog(dialog, 0); break;
    default: break;
  }
}

void onDrawItem(HWND dialog, const DRAWITEMSTRUCT& item) {
  const char* property = item.CtlID == IDC_MAKER_ICON ? kMakerIconProperty : kProductIconProperty;
  if (HICON icon = static_cast<HICON>(GetPropA(dialog, property)))
    DrawIcon(item.hDC, item.rcItem.left, item.rcItem.top, icon);
}

INT_PTR CALLBACK installDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: onOpen(dialog, *reinterpret_cast<InstallRequest*>(lParam)); return TRUE;
    case WM_COMMAND: onCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    case WM_DRAWITEM: onDrawItem(dialog, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
    case WM_CTLCOLORSTATIC:
      // The link looks like one: blue text straight on the dialog's face.
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != IDC_MAKER_LINK) return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 255));
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_DESTROY:
      // The icons themselves live until the process ends.
      RemovePropA(dialog, kRequestProperty);
      RemovePropA(dialog, kProductIconProperty);
      RemovePropA(dialog, kMakerIconProperty);
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

INT_PTR showInstallDialog(InstallRequest& request) {
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), "InstallDialog2", nullptr, installDialogProc,
                                         reinterpret_cast<LPARAM>(&request));
  if (result == -1) reportDialogFailure(GetLastError());
  return result;
}

}  // namespace installer

#pragma once
// The system's web browser control inside the installer's dialogs, hosted
// through the control-hosting windows of atl.dll. The library is loaded at run
// time from the system folder only: the installer runs elevated from a
// download folder, where anyone may have left a DLL of the same name.
#include <windows.h>
#include <exdisp.h>

#include <string>

namespace installer {

// Registers the host window classes. False when atl.dll cannot be loaded from
// the system folder or its hosting cannot start.
bool initControlHosting();

// Creates the web browser control inside `placeholder`, an existing child
// window, navigated to `url`. On success `*browser` is the control's
// IWebBrowser2 with a reference for the caller, or null when the control
// offers none. The placeholder's text names the address it was asked to show.
HRESULT createBrowserIn(HWND placeholder, const std::wstring& url, IWebBrowser2** browser);

// For pages that are decoration only (the install dialog's advert): starts
// the hosting, creates the browser in `placeholder` (its scroll bars and the
// rest of its styles as the template gives them) and navigates it to `url`,
// an address in the system code page. Every failure is ignored and the
// placeholder stays empty. Call it on the dialog's thread, which must have
// initialised OLE, while the dialog is being created (WM_INITDIALOG).
void showWebPageIn(HWND placeholder, const std::string& url);

// While it lives, file paths of this thread are redirected again for a 32-bit
// program on 64-bit Windows. The main sequence switches redirection off, but
// the browser loads its DLLs from paths the registry gives as system32, which
// must reach the 32-bit folder. Does nothing in a 64-bit program.
class FileSystemRedirectionOn {
 public:
  FileSystemRedirectionOn();
  ~FileSystemRedirectionOn();
  FileSystemRedirectionOn(const FileSystemRedirectionOn&) = delete;
  FileSystemRedirectionOn& operator=(const FileSystemRedirectionOn&) = delete;

 private:
  bool switched_ = false;
  void* previous_ = nullptr;
};

// The code-page text as UTF-16.
std::wstring ansiToWide(const std::string& text);

}  // namespace installer

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

// The code-page text as UTF-16.
std::wstring ansiToWide(const std::string& text);

}  // namespace installer

#include "installer/web/web_pages.h"

#include "installer/config/install_ini.h"
#include "installer/config/prompts.h"
#include "installer/web/browser_host.h"
#include "installer/web/notifications.h"
#include "installer/web/page_address.h"
#include "installer/web/wb_customizer.h"

#ifndef MARVOLT_APPSTORE_HOST
#error "MARVOLT_APPSTORE_HOST names the app-store server"
#endif

namespace installer {

namespace {

constexpr wchar_t kInfoBlock[] = L"InfoBlock";
constexpr UINT kWarning = MB_ICONWARNING | MB_SYSTEMMODAL;

std::string programPath() {
  char path[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

// Scroll bars for pages larger than the placeholder.
HWND preparePlaceholder(HWND dialog) {
  const HWND placeholder = GetDlgItem(dialog, kPagePlaceholder);
  if (placeholder)
    SetWindowLongPtrW(placeholder, GWL_STYLE, GetWindowLongPtrW(placeholder, GWL_STYLE) | WS_VSCROLL | WS_HSCROLL);
  return placeholder;
}

void initTermsDialog(HWND dialog, TermsPage& page) {
  const std::string& iniPath = page.iniPath;
  const HWND placeholder = preparePlaceholder(dialog);
  if (!initControlHosting()) {
    page.failed = true;
    showPrompt(iniPath, dialog, prompts::Err1Display, kWarning);
    return;
  }
  if (!placeholder) {
    page.failed = true;
    showPrompt(iniPath, dialog, prompts::Err2, kWarning);
    return;
  }
  IWebBrowser2* browser = nullptr;
  // Without a browser the user would be asked to agree to a page never shown.
  if (FAILED(createBrowserIn(placeholder, ansiToWide(page.address), &browser))) {
    page.failed = true;
    showPrompt(iniPath, dialog, prompts::Err2, kWarning);
    return;
  }
  if (browser) browser->Release();  // the host window keeps the control
}

void initBrokerDialog(HWND dialog, BrokerPage* broker) {
  const std::string& iniPath = broker->iniPath;
  PageAnswer* page = &broker->page;
  const HWND placeholder = preparePlaceholder(dialog);
  if (!initControlHosting()) {
    broker->failed = true;
    showPrompt(iniPath, dialog, prompts::Err1Display, kWarning);
    return;
  }
  if (!placeholder) {
    broker->failed = true;
    showPrompt(iniPath, dialog, prompts::Err1Load, kWarning);
    return;
  }
  SetPropW(dialog, kInfoBlock, page);
  IWebBrowser2* browser = nullptr;
  if (FAILED(createBrowserIn(placeholder, ansiToWide(page->url), &browser))) {
    broker->failed = true;
    showPrompt(iniPath, dialog, prompts::Err1Load, kWarning);
    return;
  }
  if (!browser) return;
  browser->put_Silent(VARIANT_TRUE);
  // Kept until the process ends: the page may call it as long as it lives.
  auto* customizer = new CWBCustomizer;
  customizer->ownerDialog = dialog;
  if (FAILED(customizer->attachToBrowser(browser))) showPrompt(iniPath, dialog, prompts::Err1Load, kWarning);
  browser->Release();
}

}  // namespace

std::string brokerPageUrl(const std::string& iniPath) {
  return brokerPageAddress(MARVOLT_APPSTORE_HOST, readInt(iniPath, keys::PackageId), downloadId(iniPath), computerId());
}

INT_PTR CALLBACK termsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: initTermsDialog(dialog, *reinterpret_cast<TermsPage*>(lParam)); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam) == IDOK ? 1 : 0);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK brokerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: initBrokerDialog(dialog, reinterpret_cast<BrokerPage*>(lParam)); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam) == IDOK ? 1 : 0);
        return TRUE;
      }
      return FALSE;
    case kPageAnswerMessage: {
      if (wParam != kPageAnswerTag) return FALSE;
      auto* page = static_cast<PageAnswer*>(GetPropW(dialog, kInfoBlock));
      if (page && lParam) page->answer = std::string(reinterpret_cast<const char*>(lParam));
      EndDialog(dialog, 1);
      return TRUE;
    }
    case WM_DESTROY: RemovePropW(dialog, kInfoBlock); return FALSE;
    default: return FALSE;
  }
}

StepEnd showTermsPage(const std::string& iniPath) {
  const std::string agreementUrl = readText(iniPath, keys::AgreementUrl);
  if (agreementUrl.empty()) return kStepGoOn;
  TermsPage page{iniPath, termsPageAddress(agreementUrl, programPath())};
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), kTermsDialog, nullptr, termsDialogProc,
                                         reinterpret_cast<LPARAM>(&page));
  if (result == -1) {
    reportDialogFailure(GetLastError());
    return kStepFailed;
  }
  if (result != 0) return kStepGoOn;
  // Closing a page that could not be shown is no choice of the user's.
  return page.failed ? kStepFailed : kStepEndedByUser;
}

std::optional<std::string> chooseBroker(const std::string& iniPath, StepEnd* noChoice) {
  BrokerPage broker{iniPath, PageAnswer{brokerPageUrl(iniPath), std::nullopt}};
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), kBrokerDialog, nullptr, brokerDialogProc,
                                         reinterpret_cast<LPARAM>(&broker));
  if (result == -1) reportDialogFailure(GetLastError());
  if (result != 0 && result != -1 && broker.page.answer) return broker.page.answer;
  if (noChoice) *noChoice = result == -1 || broker.failed ? kStepFailed : kStepEndedByUser;
  return std::nullopt;
}

}  // namespace installer

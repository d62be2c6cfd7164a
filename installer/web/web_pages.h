#pragma once
// The installer's embedded pages: the terms and conditions that must be
// accepted before anything is installed, and the app-store server's broker
// page that chooses which MetaTrader 4 setup program to download.
#include <windows.h>

#include <optional>
#include <string>

#include "installer/config/run_end.h"

namespace installer {

// The record behind the broker dialog's window property "InfoBlock".
struct PageAnswer {
  std::string url;                    // the page to show
  std::optional<std::string> answer;  // the source key the page chose
};

// Shows [Licensing] AgreementUrl when there is one. kStepGoOn: no page, or
// "I agree"; kStepEndedByUser: declined or closed; kStepFailed: the page could
// not be shown (its message already shown).
StepEnd showTermsPage(const std::string& iniPath);

// Shows the broker page. The source key the page chose ("skip!": no download
// wanted), or none when it was closed or cancelled without a choice; then
// `noChoice`, when given, tells whether the user closed it
// (kStepEndedByUser) or it could not be shown (kStepFailed).
std::optional<std::string> chooseBroker(const std::string& iniPath, StepEnd* noChoice = nullptr);

// The broker page's address for this package and computer.
std::string brokerPageUrl(const std::string& iniPath);

// What the dialogs are created with: their texts come from `iniPath`.
struct TermsPage {
  std::string iniPath;
  std::string address;
  bool failed = false;  // the page could not be shown; set by the dialog
};
struct BrokerPage {
  std::string iniPath;
  PageAnswer page;
  bool failed = false;  // the page could not be shown; set by the dialog
};

// The dialogs' procedures, with a TermsPage or a BrokerPage as the creation
// parameter.
INT_PTR CALLBACK termsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK brokerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr int kPagePlaceholder = 1005;
inline constexpr const wchar_t* kTermsDialog = L"LicensingAgreementDialog";
inline constexpr const wchar_t* kBrokerDialog = L"ChooseBrokerDialog";

}  // namespace installer

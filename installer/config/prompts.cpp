#include "installer/config/prompts.h"

#include <atomic>
#include <cstdio>

#include "installer/config/ini_text.h"
#include "installer/config/run_log.h"

namespace installer {

namespace {
constexpr DWORD kPromptBuffer = 2000;

const char* answerName(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case 0: return "(not shown)";
    default: return "(another button)";
  }
}

std::atomic<bool> aDialogFailed{false};
}  // namespace

std::string readPrompt(const std::string& iniPath, const char* key, const char* defaultText) {
  std::string value;
  if (iniPath.empty()) {
    value = defaultText;
  } else {
    std::string buffer(kPromptBuffer, '\0');
    const DWORD got = GetPrivateProfileStringA("Text", key, defaultText, buffer.data(), kPromptBuffer, iniPath.c_str());
    buffer.resize(got);
    value = std::move(buffer);
  }
  if (value.size() > kPromptBound) value.resize(kPromptBound);
  return expandPromptText(value);
}

int showPromptMessage(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  if (text.empty() || caption.empty()) {
    logStep("message not shown (its text or caption is empty): \"" + caption + "\" " + text);
    return 0;
  }
  return showLoggedMessage(owner, text, caption.c_str(), style);
}

int showLoggedMessage(HWND owner, const std::string& text, const char* caption, UINT style) {
  logStep(std::string("message \"") + caption + "\": " + text);
  const int answer = MessageBoxA(owner, text.c_str(), caption, style);
  logStep(std::string("message \"") + caption + "\" answered " + answerName(answer));
  return answer;
}

void showFixedError(const std::string& text, const char* caption) {
  showLoggedMessage(nullptr, text, caption, MB_ICONERROR | MB_SYSTEMMODAL);
}

int showPrompt(const std::string& iniPath, HWND owner, const Prompt& prompt, UINT style) {
  const std::string text = readPrompt(iniPath, prompt.textKey, prompt.defaultText);
  const std::string caption = readPrompt(iniPath, prompt.captionKey, prompt.defaultCaption);
  return showPromptMessage(owner, text, caption, style);
}

void reportDialogFailure(DWORD error) {
  aDialogFailed.store(true);
  char text[160];
  std::snprintf(text, sizeof text, "The installer could not open its window (system error %lu).",
                static_cast<unsigned long>(error));
  showFixedError(text, kListTooLongCaption);
}

bool dialogFailed() { return aDialogFailed.load(); }

}  // namespace installer

#include <array>

#include "installer/config/install_ini_keys.h"
#include "installer/config/prompt_texts.h"

namespace installer {

namespace {

constexpr KnownKey text(const TextKey& k) { return {k.section, k.key, KeyType::Text, k.defaultValue, 0, k.bound}; }
constexpr KnownKey number(const IntKey& k) { return {k.section, k.key, KeyType::Integer, "", k.defaultValue, 0}; }
constexpr KnownKey prompt(const char* key, const char* defaultText) {
  return {"Text", key, KeyType::Prompt, defaultText, 0, kPromptBound};
}

constexpr std::array kKeys = {
    text(keys::Caption),
    number(keys::InfoId),
    number(keys::PackageId),
    text(keys::DownloadId),
    text(keys::LimitToBroker),
    number(keys::SetNewInstallationMarker),
    number(keys::DoChartSymbolFixup),
    number(keys::HideHelp),
    number(keys::HideHelp2),
    text(keys::LogFile),
    number(keys::VersionCheck),
    text(keys::AgreementUrl),
    text(keys::MT4Location),
    text(keys::SetupSigner),
    text(keys::MessageUrl1),
    text(keys::MessageUrl2),
    text(keys::MessageUrl3),
    text(keys::WebPage3),
    prompt(prompts::Success.textKey, prompts::Success.defaultText),
    prompt(prompts::Success.captionKey, prompts::Success.defaultCaption),
    prompt(prompts::Error.textKey, prompts::Error.defaultText),
    prompt(prompts::Error.captionKey, prompts::Error.defaultCaption),
    prompt(prompts::NotMT4.textKey, prompts::NotMT4.defaultText),
    prompt(prompts::NotMT4.captionKey, prompts::NotMT4.defaultCaption),
    prompt(prompts::InUse.textKey, prompts::InUse.defaultText),
    prompt(prompts::MustSelect.textKey, prompts::MustSelect.defaultText),
    prompt(prompts::MustSelect.captionKey, prompts::MustSelect.defaultCaption),
    // Err1 has a second default where the page cannot be loaded (Err1Load).
    prompt(prompts::Err1Display.textKey, prompts::Err1Display.defaultText),
    prompt(prompts::Err2.textKey, prompts::Err2.defaultText),
    prompt(prompts::Err3.textKey, prompts::Err3.defaultText),
    prompt(prompts::Err4.textKey, prompts::Err4.defaultText),
    prompt(prompts::Err5.textKey, prompts::Err5.defaultText),
    prompt(prompts::UntrustedSetup.textKey, prompts::UntrustedSetup.defaultText),
    prompt(prompts::Err2.captionKey, prompts::Err2.defaultCaption),
    prompt(prompts::Aborted.textKey, prompts::Aborted.defaultText),
    prompt(prompts::Aborted.captionKey, prompts::Aborted.defaultCaption),
    prompt(labels::DialogText1.key, labels::DialogText1.defaultText),
    prompt(labels::DialogText2.key, labels::DialogText2.defaultText),
    prompt(labels::DialogText3.key, labels::DialogText3.defaultText),
    prompt(labels::DialogText4.key, labels::DialogText4.defaultText),
    prompt(labels::DialogText5.key, labels::DialogText5.defaultText),
    prompt(labels::DialogText6.key, labels::DialogText6.defaultText),
};

constexpr std::array kListed = {
    ListedSection{sections::Install, kEntryValueBound},
    ListedSection{sections::Directories, 0},
    ListedSection{sections::Delete, 0},
    ListedSection{sections::Run, kEntryValueBound},
};

}  // namespace

std::span<const KnownKey> knownKeys() { return kKeys; }

std::span<const ListedSection> listedSections() { return kListed; }

const char* dotNetKeyName(int versionCheck) {
  switch (versionCheck) {
    case 200: return "v2.0.50727";
    case 300: return "v3.0";
    case 350: return "v3.5";
    case 400: return "v4";
    default: return nullptr;
  }
}

}  // namespace installer

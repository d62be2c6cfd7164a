#include "installer/main/com_server.h"

#include <windows.h>
#include <ole2.h>

#include <string_view>

#include "installer/web/marvolt_lib.h"
#include "installer/web/wb_customizer.h"
#include "terminal/path_text.h"
#include "terminal/win_handles.h"
#include "terminal/system_library.h"

namespace installer {

namespace {

constexpr wchar_t kClassName[] = L"WBCustomizer Class";
constexpr wchar_t kProgId[] = L"Marvolt.WBCustomizer";
constexpr wchar_t kVersionProgId[] = L"Marvolt.WBCustomizer.1";
constexpr wchar_t kAppIdName[] = L"Marvolt";
constexpr wchar_t kAppId[] = L"{165E29A7-06B0-4F10-ABE4-1E12CD756875}";
constexpr wchar_t kClassId[] = L"{04B3AE66-673B-4A88-AEB3-F724ECF6F20B}";
constexpr wchar_t kTypeLibId[] = L"{4E743D78-BB8A-478A-A12F-75EF0FFD6533}";

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::wstring programPath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

std::wstring programFileName() {
  const std::wstring path = programPath();
  const auto slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Where the classes go: the machine's HKEY_CLASSES_ROOT view, or the user's own.
HKEY classesRoot(bool perUser, terminal::UniqueKey& owned) {
  if (!perUser) return HKEY_CLASSES_ROOT;
  RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, owned.put(),
                  nullptr);
  return owned.get();
}

LONG setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  terminal::UniqueKey opened;
  LONG result = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.put(), nullptr);
  if (result != ERROR_SUCCESS) return result;
  return RegSetValueExW(opened.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

using RegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUser = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The per-user type library calls exist from Windows Vista SP1 on.
template <typename F>
F oleAutomation(const char* name) {
  const HMODULE module = GetModuleHandleW(L"oleaut32.dll");
  return terminal::procAddress<F>(module, name);
}

HRESULT registerTypeLibrary(bool perUser) {
  std::wstring path = programPath();
  terminal::ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  if (perUser) {
    if (auto forUser = oleAutomation<RegisterForUser>("RegisterTypeLibForUser"))
      return forUser(library.get(), path.data(), nullptr);
  }
  return RegisterTypeLib(library.get(), path.data(), nullptr);
}

HRESULT unregisterTypeLibrary(bool perUser) {
  BSTR registered = nullptr;
  if (FAILED(QueryPathOfRegTypeLib(LIBID_MarvoltLib, 1, 0, LOCALE_NEUTRAL, &registered))) return S_OK;  // none
  SysFreeString(registered);
  if (perUser) {
    if (auto forUser = oleAutomation<UnregisterForUser>("UnRegisterTypeLibForUser"))
      return forUser(LIBID_MarvoltLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
  }
  return UnRegisterTypeLib(LIBID_MarvoltLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
}

// Serves the page object to COM clients.
class CustomizerFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // Lives as long as the program.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ++created;
    auto* customizer = new CWBCustomizer;
    const HRESULT hr = customizer->QueryInterface(riid, object);
    customizer->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    locks += lock ? 1 : -1;
    if (locks == 0 && liveCustomizers() == 0 && whenUnused) whenUnused();
    return S_OK;
  }
  long created = 0;
  long locks = 0;
  void (*whenUnused)() = nullptr;
};

CustomizerFactory g_factory;

// The class objects offered while the message loop runs.
class ClassObjects {
 public:
  ClassObjects() {
    CoRegisterClassObject(CLSID_WBCustomizer, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
  }
  ~ClassObjects() {
    if (cookie_) CoRevokeClassObject(cookie_);
  }
  ClassObjects(const ClassObjects&) = delete;
  ClassObjects& operator=(const ClassObjects&) = delete;

 private:
  DWORD cookie_ = 0;
};

int runMessageLoop() {
  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}

void CALLBACK endWhenNeverAsked(HWND, UINT, UINT_PTR, DWORD) {
  if (g_factory.created == 0) PostQuitMessage(0);
}

}  // namespace

ComServerSwitch findComServerSwitch(const std::string& commandLine) {
  struct Name {
    const char* text;
    ComServerSwitch value;
  };
  static constexpr Name kNames[] = {{"regserver", ComServerSwitch::RegServer},
                                    {"unregserver", ComServerSwitch::UnregServer},
                                    {"regserverperuser", ComServerSwitch::RegServerPerUser},
                                    {"unregserverperuser", ComServerSwitch::UnregServerPerUser},
                                    {"embedding", ComServerSwitch::Embedding}};
  const std::string_view line(commandLine);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '/' && line[i] != '-') continue;
    if (i > 0 && !isBlank(line[i - 1])) continue;
    std::size_t end = i + 1;
    while (end < line.size() && !isBlank(line[end])) ++end;
    const std::string_view word = line.substr(i + 1, end - i - 1);
    for (const auto& name : kNames)
      if (terminal::equalsIgnoringAsciiCase(word, name.text)) return name.value;
  }
  return ComServerSwitch::None;
}

long registerComClasses(bool perUser) {
  terminal::UniqueKey owned;
  const HKEY root = classesRoot(perUser, owned);
  if (!root) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  const std::wstring classKey = std::wstring(L"CLSID\\") + kClassId;
  const std::wstring server = L"\"" + programPath() + L"\"";
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } entries[] = {
      {kVersionProgId, nullptr, kClassName},
      {std::wstring(kVersionProgId) + L"\\CLSID", nullptr, kClassId},
      {kProgId, nullptr, kClassName},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, kClassId},
      {std::wstring(kProgId) + L"\\CurVer", nullptr, kVersionProgId},
      {classKey, nullptr, kClassName},
      {classKey, L"AppID", kAppId},
      {classKey + L"\\ProgID", nullptr, kVersionProgId},
      {classKey + L"\\VersionIndependentProgID", nullptr, kProgId},
      {classKey + L"\\LocalServer32", nullptr, server},
      {classKey + L"\\TypeLib", nullptr, kTypeLibId},
      {classKey + L"\\Version", nullptr, L"1.0"},
      {std::wstring(L"AppID\\") + kAppId, nullptr, kAppIdName},
      {L"AppID\\" + programFileName(), L"AppID", kAppId},
  };
  for (const auto& entry : entries) {
    const LONG result = setValue(root, entry.key, entry.name, entry.value);
    if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
  }
  return registerTypeLibrary(perUser);
}

long unregisterComClasses(bool perUser) {
  terminal::UniqueKey owned;
  const HKEY root = classesRoot(perUser, owned);
  if (!root) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  // Keys that are already gone are no failure.
  for (const std::wstring& key :
       {std::wstring(kVersionProgId), std::wstring(kProgId), std::wstring(L"CLSID\\") + kClassId,
        std::wstring(L"AppID\\") + kAppId, L"AppID\\" + programFileName()})
    RegDeleteTreeW(root, key.c_str());
  return unregisterTypeLibrary(perUser);
}

int runComServerStartup(const std::string& commandLine) {
  switch (findComServerSwitch(commandLine)) {
    case ComServerSwitch::RegServer: return static_cast<int>(registerComClasses(false));
    case ComServerSwitch::UnregServer: return static_cast<int>(unregisterComClasses(false));
    case ComServerSwitch::RegServerPerUser: return static_cast<int>(registerComClasses(true));
    case ComServerSwitch::UnregServerPerUser: return static_cast<int>(unregisterComClasses(true));
    default: break;
  }
  ClassObjects offered;
  return runMessageLoop();
}

int serveComClasses() {
  // Ends when the last page object and lock are gone, or after a minute in
  // which no client asked for one.
  static const DWORD mainThread = GetCurrentThreadId();
  g_factory.whenUnused = [] { PostThreadMessageW(mainThread, WM_QUIT, 0, 0); };
  whenNoCustomizerLeft([] {
    if (g_factory.locks == 0) PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
  });
  SetTimer(nullptr, 0, 60000, endWhenNeverAsked);
  ClassObjects offered;
  return runMessageLoop();
}

}  // namespace installer

#include "installer/web/setup_trust.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>

#include "installer/config/install_ini.h"
#include "installer/web/setup_signers.h"
#include "installer/web/setup_signers_list.h"
#include "terminal/system_library.h"
#include "terminal/win_text.h"

namespace installer {

namespace {

// Full control for SYSTEM and the Administrators only, not inherited from the
// temporary folder, passed on to the files made inside.
constexpr char kSetupFolderAcl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

std::string randomName() {
  unsigned char bytes[16] = {};
  if (!RtlGenRandom(bytes, sizeof bytes)) return {};
  std::string name = "mt4setup-";
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    name += hex;
  }
  return name;
}

void removeFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using CertNameFn = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

struct TrustApi {
  WinVerifyTrustFn verify = nullptr;
  ProvDataFn providerData = nullptr;
  ProvSignerFn signer = nullptr;
  CertNameFn certName = nullptr;
  bool complete() const { return verify && providerData && signer && certName; }
};

// Loaded at run time from the system folder: the installer imports no DLL
// that the loader might take from its download folder.
TrustApi trustApi() {
  TrustApi api;
  const HMODULE wintrust = terminal::loadSystemLibrary(L"wintrust.dll");
  const HMODULE crypt32 = terminal::loadSystemLibrary(L"crypt32.dll");
  api.verify = terminal::procAddress<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
  api.providerData = terminal::procAddress<ProvDataFn>(wintrust, "WTHelperProvDataFromStateData");
  api.signer = terminal::procAddress<ProvSignerFn>(wintrust, "WTHelperGetProvSignerFromChain");
  api.certName = terminal::procAddress<CertNameFn>(crypt32, "CertGetNameStringW");
  return api;
}

std::string certificateName(const TrustApi& api, PCCERT_CONTEXT certificate, const char* oid) {
  wchar_t name[512] = {};
  const DWORD got = api.certName(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), name, 512);
  return got > 1 ? terminal::wideToUtf8(name) : std::string();
}

}  // namespace

SetupFolder::SetupFolder() {
  char temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof temp, temp);
  const std::string name = randomName();
  if (length == 0 || length >= sizeof temp || name.empty()) return;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kSetupFolderAcl, SDDL_REVISION_1, &descriptor, nullptr))
    return;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  const std::string folder = std::string(temp) + name;
  // A folder of that name already there was not made by this run.
  const bool made = CreateDirectoryA(folder.c_str(), &attributes) != FALSE;
  LocalFree(descriptor);
  if (made) path_ = folder + "\\";
}

SetupFolder::~SetupFolder() {
  if (!path_.empty()) removeFolder(path_);
}

bool signedByAcceptedPublisher(HANDLE file, const std::string& path, const std::vector<std::string>& accepted) {
  const TrustApi api = trustApi();
  if (!api.complete()) return false;
  const std::wstring widePath = terminal::utf8ToWide(path);

  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = widePath.c_str();
  fileInfo.hFile = file;  // the bytes that will run, held open since the download
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

  bool trusted = false;
  if (verdict == ERROR_SUCCESS) {
    CRYPT_PROVIDER_DATA* provider = api.providerData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? api.signer(provider, 0, FALSE, 0) : nullptr;
    if (signer && signer->csCertChain > 0 && signer->pasCertChain && signer->pasCertChain[0].pCert) {
      PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
      trusted = setupSignerAccepted(certificateName(api, certificate, szOID_ORGANIZATION_NAME),
                                    certificateName(api, certificate, szOID_COMMON_NAME), accepted);
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return trusted;
}

std::vector<std::string> setupSignersOf(const std::string& iniPath) {
  return acceptedSetupSigners(MARVOLT_SETUP_SIGNERS, readText(iniPath, keys::SetupSigner));
}

}  // namespace installer

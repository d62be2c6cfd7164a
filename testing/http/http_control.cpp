#include "testing/http/http_control.h"

#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>

#include <atomic>
#include <sstream>

#include "testing/support/test_support.h"
#include "testing/terminal/protocol.h"

namespace test_http {

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A plain request to the control port, outside the client under test.
std::string control(const std::string& verb, const std::string& path, const std::string& body = "") {
  std::string answer;
  HINTERNET session = WinHttpOpen(L"test-control", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", 80, 0) : nullptr;
  HINTERNET request =
      connection ? WinHttpOpenRequest(connection, wide(verb).c_str(), wide(path).c_str(), nullptr, nullptr, nullptr, 0)
                 : nullptr;
  if (request &&
      WinHttpSendRequest(request, nullptr, 0, const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                         static_cast<DWORD>(body.size()), 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(request, &available) && available) {
      std::string chunk(available, '\0');
      DWORD got = 0;
      WinHttpReadData(request, chunk.data(), available, &got);
      answer.append(chunk.data(), got);
    }
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return answer;
}

std::string escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (isalnum(c) || c == '/' || c == '_' || c == '-' || c == '.')
      out += static_cast<char>(c);
    else {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string Received::header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (_stricmp(n.c_str(), name.c_str()) == 0) return v;
  return {};
}

bool Received::hasHeader(const std::string& name) const {
  for (const auto& h : headers)
    if (_stricmp(h.first.c_str(), name.c_str()) == 0) return true;
  return false;
}

std::string Received::path() const {
  const auto first = requestLine.find(' ');
  const auto last = requestLine.rfind(' ');
  return first == std::string::npos || last <= first ? "" : requestLine.substr(first + 1, last - first - 1);
}

std::string uniquePrefix() {
  static std::atomic<int> counter{0};
  return "/t" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount()) + "_" +
         std::to_string(counter++) + "/";
}

bool script(const std::string& prefix, const Answer& answer) {
  const std::string path =
      "/__control/script?prefix=" + escape(prefix) + "&status=" + std::to_string(answer.status) +
      "&delay=" + std::to_string(answer.delayMs) + "&drop=" + (answer.drop ? "1" : "0") +
      "&headers=" + test_terminal::toHex(answer.headers) + "&times=" + std::to_string(answer.times) +
      "&pad=" + std::to_string(answer.padTo) + "&piece=" + std::to_string(answer.pieceBytes) +
      "&pieceDelay=" + std::to_string(answer.pieceDelayMs) + "&announce=" + std::to_string(answer.announceBytes);
  return control("POST", path, answer.body) == "scripted";
}

bool unscript(const std::string& prefix) {
  return control("POST", "/__control/unscript?prefix=" + escape(prefix)) == "unscripted";
}

std::vector<Received> requests(const std::string& prefix) {
  std::vector<Received> all;
  std::istringstream in(control("GET", "/__control/requests?prefix=" + escape(prefix)));
  Received current;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string kind, a, b;
    words >> kind >> a >> b;
    if (kind == "REQUEST")
      current = Received{test_terminal::fromHex(a), {}, {}};
    else if (kind == "HEADER")
      current.headers.emplace_back(test_terminal::fromHex(a), test_terminal::fromHex(b));
    else if (kind == "BODY")
      current.body = test_terminal::fromHex(a);
    else if (kind == "AT")
      current.atMs = std::stoll(a);
    else if (kind == "END")
      all.push_back(current);
  }
  return all;
}

std::vector<std::string> tlsConnections() {
  std::vector<std::string> all;
  std::istringstream in(control("GET", "/__control/tls"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("TLS ", 0) == 0) all.push_back(test_terminal::fromHex(line.substr(4)));
  return all;
}

namespace {
constexpr const char* kMachineRoots = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
}  // namespace

// The machine's root store keeps each certificate in the registry under its
// SHA-1 thumbprint. Adding it there, rather than through CertOpenStore, is
// what a new process sees: Wine hands each process a copy of "Root" that an
// addition does not reach beyond.
TrustedServerCertificate::TrustedServerCertificate() {
  const std::string pem = testing_support::readFile(testing_support::hostPath(TEST_SERVER_CERTIFICATE));
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                           nullptr, &size, nullptr, nullptr))
    return;
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
    return;
  PCCERT_CONTEXT certificate =
      CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size);
  if (!certificate) return;
  BYTE hash[20];
  DWORD hashSize = sizeof hash;
  DWORD blobSize = 0;
  std::string blob;
  if (CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &hashSize) &&
      CertSerializeCertificateStoreElement(certificate, 0, nullptr, &blobSize)) {
    blob.resize(blobSize);
    if (!CertSerializeCertificateStoreElement(certificate, 0, reinterpret_cast<BYTE*>(blob.data()), &blobSize))
      blob.clear();
  }
  CertFreeCertificateContext(certificate);
  if (blob.empty()) return;
  char thumbprint[41] = {};
  for (int i = 0; i < 20; ++i) snprintf(thumbprint + 2 * i, 3, "%02X", hash[i]);
  const std::string key = kMachineRoots + std::string(thumbprint);
  HKEY opened = nullptr;
  // Volatile: Wine keeps its root list in a volatile key, whose children must be.
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &opened,
                      nullptr) != ERROR_SUCCESS)
    return;
  if (RegSetValueExA(opened, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()), blobSize) ==
      ERROR_SUCCESS)
    key_ = key;
  RegCloseKey(opened);
}

TrustedServerCertificate::~TrustedServerCertificate() {
  if (!key_.empty()) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_.c_str());
}

namespace hub {

std::string uniqueChannel() {
  static std::atomic<int> counter{0};
  // LUMAREL_REAL_HUB=1: the test web server hands these channels to the real
  // hub (hub/) instead of the test hub.
  char real[8] = "";
  const bool toRealHub = GetEnvironmentVariableA("LUMAREL_REAL_HUB", real, sizeof real) > 0 && real[0] == '1';
  return std::string(toRealHub ? "realhub-" : "") + "ch" + std::to_string(GetCurrentProcessId()) + "x" +
         std::to_string(GetTickCount()) + "x" + std::to_string(counter++) + "z";
}

std::string receivePrefix(const std::string& channel) { return "/zlk/channels/receive.aspx?c=" + channel + "&"; }
std::string sendPath(const std::string& channel) { return "/zlk/channels/send.aspx?c=" + channel; }

bool addUser(const std::string& name, const std::string& password) {
  return control("POST", "/__control/hub/user?name=" + escape(name), password) == "hub user";
}
bool setHold(const std::string& channel, int milliseconds) {
  return control("POST", "/__control/hub/hold?c=" + escape(channel) + "&ms=" + std::to_string(milliseconds)) ==
         "hub hold";
}
bool post(const std::string& channel, const std::string& user, const std::string& text) {
  return control("POST", "/__control/hub/post?c=" + escape(channel) + "&user=" + escape(user), text) == "hub post";
}
bool stop(const std::string& channel) {
  return control("POST", "/__control/hub/stop?c=" + escape(channel)) == "hub stop";
}
bool start(const std::string& channel) {
  return control("POST", "/__control/hub/start?c=" + escape(channel)) == "hub start";
}

std::vector<int> receiveMarks(const std::string& channel) {
  std::vector<int> marks;
  const std::string prefix = receivePrefix(channel) + "r=";
  for (const Received& r : requests(receivePrefix(channel))) {
    const std::string path = r.path();
    marks.push_back(std::atoi(path.c_str() + prefix.size()));
  }
  return marks;
}

}  // namespace hub

}  // namespace test_http

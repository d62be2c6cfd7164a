#include "installer/install/chart_fixup.h"

#include <windows.h>

#include "installer/install/chart_text.h"
#include "installer/install/install_rules.h"
#include "terminal/file_time.h"
#include "terminal/win_handles.h"

namespace installer {

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The whole file through an open handle; none when it could not all be read.
std::optional<std::string> readAll(HANDLE file, DWORD limit = 64u << 20) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart > limit) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() && !ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
    return std::nullopt;
  if (got < bytes.size()) return std::nullopt;
  return bytes;
}

std::uint64_t writeTimeOf(HANDLE file) {
  FILETIME written;
  if (!GetFileTime(file, nullptr, nullptr, &written)) return 0;
  return terminal::fileTimeValue(written);
}

// Writes the new chart text beside the chart and puts it in the chart's place
// in one step: whatever fails, the chart stays as it was and the temporary
// file goes.
void replaceChart(const std::string& chart, const std::string& text) {
  const std::string temporary = chart + ".tmp";
  {
    terminal::UniqueFile out(
        CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return;
    DWORD written = 0;
    const bool complete = WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                          written == text.size() && FlushFileBuffers(out.get());
    if (!complete) {
      out.reset();
      DeleteFileA(temporary.c_str());
      return;
    }
  }
  if (!MoveFileExA(temporary.c_str(), chart.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    DeleteFileA(temporary.c_str());
}

}  // namespace

std::optional<std::string> readSymbolSuffix(const std::string& root) {
  const std::string history = withBackslash(root) + "history";
  const DWORD attributes = GetFileAttributesA(history.c_str());
  // A failed query is no report of "not a folder": the search finds nothing.
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;

  std::string newest;
  std::uint64_t newestTime = 0;
  WIN32_FIND_DATAA found;
  terminal::UniqueFind search(FindFirstFileA((history + "\\*").c_str(), &found));
  for (bool more = static_cast<bool>(search); more; more = FindNextFileA(search.get(), &found)) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const std::string name = found.cFileName;
    if (name == "." || name == ".." || lstrcmpiA(name.c_str(), "downloads") == 0) continue;
    const std::string path = history + "\\" + name + "\\symbols.sel";
    terminal::UniqueFile file(
        CreateFileA(path.c_str(), GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) continue;
    const std::uint64_t written = writeTimeOf(file.get());
    if (written == 0) continue;
    if (newest.empty() || written > newestTime) {  // an equal time keeps the first found
      newest = path;
      newestTime = written;
    }
  }
  if (newest.empty()) return std::nullopt;

  terminal::UniqueFile file(
      CreateFileA(newest.c_str(), GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  std::string head(kSymbolsSelHead, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), head.data(), kSymbolsSelHead, &got, nullptr)) return std::nullopt;
  head.resize(got);
  return suffixFromSymbolsSel(head);
}

std::string readLastProfile(const std::string& profilesFolder) {
  terminal::UniqueFile file(CreateFileA((profilesFolder + "lastprofile.ini").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return "default";
  const auto content = readAll(file.get(), 1u << 20);
  return content ? profileNameFrom(*content) : std::string("default");
}

void rewriteChartSymbols(const std::string& root, const std::string& suffix) {
  const std::string profiles = withBackslash(root) + "profiles\\";
  const std::string folder = profiles + readLastProfile(profiles) + "\\";
  WIN32_FIND_DATAA found;
  terminal::UniqueFind search(FindFirstFileA((folder + "*.chr").c_str(), &found));
  for (bool more = static_cast<bool>(search); more; more = FindNextFileA(search.get(), &found)) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string chart = folder + found.cFileName;
    std::optional<std::string> rewritten;
    {
      // No sharing: a chart that a running terminal holds open is skipped.
      terminal::UniqueFile file(CreateFileA(chart.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      if (!file) continue;
      const auto text = readAll(file.get());
      if (!text) continue;
      rewritten = rewriteChartText(*text, suffix);
    }
    if (rewritten) replaceChart(chart, *rewritten);
  }
}

void fixChartSymbols(const std::string& root) {
  const auto suffix = readSymbolSuffix(root);
  if (suffix && !suffix->empty()) rewriteChartSymbols(root, *suffix);
}

}  // namespace installer

// The library as a program loads it: its exports by plain name, and its
// hold on itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testing/terminal/test_terminal.h"

namespace {

using testing_support::TempDir;

std::wstring wide(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  out.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                          out.data(), static_cast<int>(out.size()))));
  return out;
}

TEST(Library, StaysLoadedAfterItsLastUserFreesIt) {
  const std::string path = test_terminal::lumarelDll();
  HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr) << path << ": " << GetLastError();
  for (const char* name : {"TimeUTC", "SetupTimedTicks", "RemoveTimedTicks"})
    EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_EQ(GetModuleHandleA("Lumarel.dll"), library) << "unmapped with its last user";
}

// A terminal's data folder may lie below a user name the system code page
// cannot spell, or deeper than 260 characters: the library holds on to
// itself all the same. (The copies stay mapped, so their folders stay too.)
TEST(Library, StaysLoadedFromAnyFolder) {
  TempDir scratch{"pin"};
  const std::wstring base = wide(scratch.path());
  std::wstring deep = L"\\\\?\\" + base;
  while (deep.size() < 300) {
    deep += L"\\folder-of-a-long-path-" + std::to_wstring(deep.size());
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << GetLastError();
  }
  const struct {
    const char* name;
    std::wstring folder;
  } cases[] = {
      {"a name outside the code page", base + L"\\\x0416\x4E2D\x05D0\x3042"},
      {"a path of more than 260 characters", deep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CreateDirectoryW(c.folder.c_str(), nullptr);
    const std::wstring path = c.folder + L"\\Lumarel.dll";
    ASSERT_TRUE(CopyFileW(wide(test_terminal::lumarelDll()).c_str(), path.c_str(), FALSE)) << GetLastError();
    if (c.folder == cases[0].folder) {
      BOOL lost = FALSE;
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, nullptr, 0, nullptr, &lost);
      ASSERT_TRUE(lost) << "code page " << GetACP() << " spells the folder's name";
    }
    HMODULE library = LoadLibraryW(path.c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    ASSERT_NE(GetProcAddress(library, "SetupTimedTicks"), nullptr);
    EXPECT_TRUE(FreeLibrary(library));
    HMODULE still = nullptr;
    EXPECT_TRUE(
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(library), &still))
        << "unmapped with its last user: " << GetLastError();
    EXPECT_EQ(still, library);
  }
}

}  // namespace

// The library as a program loads it: its exports by plain name, and its
// extra reference to itself.
#include <windows.h>

#include <gtest/gtest.h>

#include "testing/terminal/test_terminal.h"

namespace {

TEST(Library, StaysLoadedAfterItsLastUserFreesIt) {
  const std::string path = test_terminal::lumarelDll();
  HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr) << path << ": " << GetLastError();
  for (const char* name : {"TimeUTC", "SetupTimedTicks", "RemoveTimedTicks"})
    EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_EQ(GetModuleHandleA("Lumarel.dll"), library) << "unmapped with its last user";
}

}  // namespace

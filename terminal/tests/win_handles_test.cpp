// The owners of system objects, on Windows.
#include "terminal/win_handles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Closing this value fails and sets a last error of its own.
HANDLE notAHandle() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x1230)); }

// Code reads GetLastError() right after handing a new object to an owner,
// as for ERROR_ALREADY_EXISTS of a named object: closing what the owner held
// before must not change it.
TEST(UniqueHandle, ResetKeepsTheCallersLastError) {
  terminal::UniqueHandle owner(notAHandle());
  SetLastError(ERROR_ACCESS_DENIED);
  owner.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  const std::string name = "LumarelOwnerTest" + std::to_string(GetCurrentProcessId());
  const terminal::UniqueHandle first(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(first);
  terminal::UniqueHandle second(notAHandle());
  second.reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "the named event existed already";
  EXPECT_TRUE(second);
}

}  // namespace

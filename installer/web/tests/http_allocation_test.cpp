// The HTTP client when memory runs out in the middle of a request: the
// request is abandoned and nothing escapes, also on the notification thread,
// where an escaping exception would end the whole installer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <set>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

#include "installer/web/http_client.h"
#include "installer/web/notifications.h"
#include "testing/http/http_control.h"
#include "terminal/win_handles.h"
#include "testing/support/test_support.h"

namespace {

// Allocations of this size or more fail while a test sets it.
std::atomic<std::size_t> g_failFrom{~std::size_t{0}};

class FailingLargeAllocations {
 public:
  explicit FailingLargeAllocations(std::size_t from) { g_failFrom = from; }
  ~FailingLargeAllocations() { g_failFrom = ~std::size_t{0}; }
  FailingLargeAllocations(const FailingLargeAllocations&) = delete;
  FailingLargeAllocations& operator=(const FailingLargeAllocations&) = delete;
};

}  // namespace

// The replaced operators pair malloc with free; the compiler, seeing a free
// of what operator new returned, would warn of a mismatch that is none.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (size >= g_failFrom.load()) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace installer;

std::set<DWORD> threadIds() {
  std::set<DWORD> ids;
  terminal::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
  return ids;
}
using test_http::Answer;

constexpr std::size_t kBodySize = 3u << 20;  // its text outgrows the limit below
constexpr std::size_t kLimit = 1u << 20;

Answer bigAnswer() {
  Answer answer;
  answer.body.assign(kBodySize, 'b');
  return answer;
}

TEST(HttpAllocation, FailureAbandonsTheRequestWithoutEscaping) {
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, bigAnswer()));
  HttpRequest r;
  r.verb = "GET";
  r.host = "localhost";
  r.path = prefix + "big";
  r.result = -7;
  int result = 0;
  {
    FailingLargeAllocations failing(kLimit);
    EXPECT_NO_THROW(result = performHttpRequest(r));
  }
  EXPECT_EQ(result, -7) << "the result is left as it stood";
  EXPECT_EQ(r.result, -7);
  EXPECT_EQ(test_http::requests(prefix).size(), 1u) << "the request was under way when memory ran out";
}

TEST(HttpAllocation, FailureOnTheNotificationThreadEndsOnlyThatThread) {
  testing_support::TempDir dir{"alloc"};
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, bigAnswer()));
  const std::string ini = dir / "install.ini";
  testing_support::writeFile(ini, "[Messages]\r\nMessageUrl1=http://localhost" + prefix + "start\r\n");
  FailingLargeAllocations failing(kLimit);
  const std::set<DWORD> before = threadIds();
  notifyServer(ini, keys::MessageUrl1, "", true);
  // The notification thread is the one that exists now and did not before.
  std::vector<terminal::UniqueHandle> started;
  std::vector<HANDLE> waitable;
  for (DWORD id : threadIds()) {
    if (before.count(id)) continue;
    started.emplace_back(OpenThread(SYNCHRONIZE, FALSE, id));
    if (started.back()) waitable.push_back(started.back().get());
  }
  // A thread that could not be opened has ended already. WinHTTP may have
  // started threads of its own by now, which live on: the notification thread
  // is one of those that end.
  if (!waitable.empty()) {
    EXPECT_LT(
        WaitForMultipleObjects(static_cast<DWORD>(waitable.size()), waitable.data(), FALSE, 30000) - WAIT_OBJECT_0,
        waitable.size())
        << "the notification thread did not end: " << GetLastError();
  }
  EXPECT_TRUE(testing_support::waitUntil([&] { return test_http::requests(prefix).size() == 1; }, 10000))
      << "the notification was not sent";
}

}  // namespace

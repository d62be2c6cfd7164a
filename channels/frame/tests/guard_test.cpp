#include "channels/frame/guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

using lumarel::guarded;

TEST(Guard, EveryExceptionBecomesTheFallback) {
  const struct {
    const char* name;
    void (*raise)();
  } cases[] = {
      {"an allocation failure", [] { throw std::bad_alloc(); }},
      {"a lock the system refused",
       [] { throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur)); }},
      {"a length error", [] { std::string().reserve(std::string().max_size() + 1); }},
      {"something that is no exception class", [] { throw 42; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(guarded(-2,
                      [&] {
                        c.raise();
                        return 7;
                      }),
              -2);
    static const char kEmpty[] = "";
    EXPECT_EQ(guarded<const char*>(kEmpty,
                                   [&]() -> const char* {
                                     c.raise();
                                     return "text";
                                   }),
              kEmpty);
    EXPECT_EQ(guarded<const char*>(nullptr,
                                   [&]() -> const char* {
                                     c.raise();
                                     return "text";
                                   }),
              nullptr);
  }
}

TEST(Guard, ResultsPassUnchanged) {
  for (int result : {-2, -1, 0, 1, 12349}) EXPECT_EQ(guarded(-7, [&] { return result; }), result);
  EXPECT_EQ(guarded(-1LL, [] { return 1LL << 40; }), 1LL << 40);
}

}  // namespace

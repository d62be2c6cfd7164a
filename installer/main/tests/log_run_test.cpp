// The log a package asks for with [Info] LogFile, written by real runs.
#include <gtest/gtest.h>

#include "installer/config/log_text.h"
#include "testing/http/http_control.h"
#include "testing/robot/marvolt_runner.h"
#include "testing/support/test_support.h"

namespace {

using marvolt_test::Package;
using testing_support::readFile;
using testing_support::TempDir;

class LogRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    name = "marvolt-log-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) + ".log";
    path = std::string(temp) + name;
    DeleteFileA(path.c_str());
    copy = testing_support::makeSampleCopy(copyDir / "MT4");
  }
  void TearDown() override { DeleteFileA(path.c_str()); }
  static bool has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

  TempDir copyDir{"logc"};
  std::string name, path, copy;
};

// What a run did, step by step: the package, the copy, each file copied or
// not and why, the messages with their texts, and the exit code.
TEST_F(LogRunTest, RunsAppendWhatTheyDidAndHowTheyEnded) {
  Package package;
  package.addFile("a.ex4", "a");
  package.writeIni("[Info]\r\nCaption=Logged Tools\r\nLogFile=" + name +
                   "\r\n[Install]\r\na.ex4=experts\r\nb.ex4=experts,1\r\nc.ex4=experts\r\n"
                   "[Text]\r\nError=It failed~see the log\r\n");
  auto result = package.run(copy);
  EXPECT_EQ(result.exitCode, 1u) << "c.ex4 is missing from the package";
  std::string log = readFile(path);
  ASSERT_FALSE(log.empty()) << "no log at " << path;
  for (const std::string& step :
       {std::string("package \"Logged Tools\" in ") + package.path() + "\\", "copy chosen: " + copy,
        "copied a.ex4 to " + copy + "\\experts\\a.ex4", std::string("not copied, missing from the package: b.ex4"),
        std::string("not copied, missing from the package: c.ex4"),
        "message \"File missing from installation\": " + package.path() + "\\c.ex4",
        std::string("message \"Install failed\": It failed~see the log"), std::string(" exit code 1\r\n")})
    EXPECT_TRUE(has(log, step)) << "the log lacks \"" << step << "\":\n" << log;
  // Every line begins with its time.
  for (std::size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = log.substr(start, end - start);
    EXPECT_TRUE(line.size() > 24 && line[4] == '-' && line[10] == ' ' && line[13] == ':' && line[19] == '.') << line;
  }

  // A second run appends: both endings stay. It notifies a server, whose
  // answer the log gives.
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, test_http::Answer{202, "taken"}));
  package.addFile("b.ex4", "b");
  package.addFile("c.ex4", "c");
  package.writeIni("[Info]\r\nCaption=Logged Tools\r\nLogFile=" + name +
                   "\r\n[Install]\r\na.ex4=experts\r\nb.ex4=experts,1\r\nc.ex4=experts\r\n"
                   "[Messages]\r\nMessageUrl3=http://localhost" +
                   prefix + "done\r\n");
  result = package.run(copy);
  EXPECT_EQ(result.exitCode, 0u);
  log = readFile(path);
  EXPECT_TRUE(has(log, "notification http://localhost" + prefix + "done?pid=0&cid=")) << log;
  EXPECT_TRUE(has(log, " answered 202\r\n")) << log;
  EXPECT_TRUE(has(log, " exit code 1\r\n")) << log;
  EXPECT_LT(log.find(" exit code 1\r\n"), log.find(" exit code 0\r\n")) << log;
  EXPECT_TRUE(has(log, "message \"Install successful\"")) << log;
}

TEST_F(LogRunTest, NoLogWithoutTheKey) {
  Package package;
  package.addFile("a.ex4", "a");
  package.writeIni("[Install]\r\na.ex4=experts\r\n");
  EXPECT_EQ(package.run(copy).exitCode, 0u);
  EXPECT_FALSE(testing_support::fileExists(path));
}

TEST_F(LogRunTest, LogOverItsBoundIsCutFromItsStart) {
  // An old log of 1.5 MiB in whole lines, the first of them marked.
  std::string old = "first line of an old run\r\n";
  while (old.size() < installer::kLogBound * 3 / 2) old += "2026-01-01 00:00:00.000 an old step of an old run\r\n";
  testing_support::writeFile(path, old);
  Package package;
  package.addFile("a.ex4", "a");
  package.writeIni("[Info]\r\nLogFile=" + name + "\r\n[Install]\r\na.ex4=experts\r\n");
  EXPECT_EQ(package.run(copy).exitCode, 0u);
  const std::string log = readFile(path);
  EXPECT_LE(log.size(), installer::kLogBound);
  EXPECT_FALSE(has(log, "first line")) << "the oldest lines go first";
  EXPECT_EQ(log.rfind("2026-01-01 00:00:00.000 an old step", 0), 0u) << "the log starts with a whole line";
  EXPECT_TRUE(has(log, " exit code 0\r\n")) << "this run's lines stay";
}

}  // namespace

// The notifications and the success page of a real Marvolt.exe run.
#include <gtest/gtest.h>

#include "testing/robot/marvolt_runner.h"
#include "installer/web/notifications.h"
#include "testing/http/http_control.h"
#include "testing/recorder/shell_open.h"

namespace {

using marvolt_test::Package;
using test_http::Answer;
using testing_support::TempDir;

std::string url(const std::string& path) { return "http://localhost" + path; }

// The start notification runs beside the installation: it is looked for
// while the success message is up, and the run ends while the server still
// holds its answer.
marvolt_test::MarvoltRun runWatchingStart(const Package& package, const std::string& copy, const std::string& prefix,
                                          std::vector<test_http::Received>* seen) {
  return package.run(copy, [&](const robot::Dialog& d) {
    testing_support::waitUntil([&] { return !(*seen = test_http::requests(prefix)).empty(); }, 10000);
    return robot::goOnButton(d);
  });
}

TEST(NotifyRun, StartNotificationDoesNotHoldUpTheRun) {
  const std::string prefix = test_http::uniquePrefix();
  ASSERT_TRUE(test_http::script(prefix, Answer{200, "late", "", 30000}));
  TempDir copyDir{"scopy"};
  Package package;
  package.writeIni("[Info]\r\nPackageId=4242\r\nDownloadId=dl7\r\n[Messages]\r\nMessageUrl1=" + url(prefix) +
                   "start\r\n");
  std::vector<test_http::Received> seen;
  const DWORD started = GetTickCount();
  const auto result = runWatchingStart(package, testing_support::makeSampleCopy(copyDir.path()), prefix, &seen);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_LT(GetTickCount() - started, 25000u) << "the run waited for the server's 30-second answer";
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].path(), prefix + "start?pid=4242&cid=" + installer::computerId() + "&did=dl7");
}

TEST(NotifyRun, SuffixAfterAnExistingQueryAndDefaults) {
  const std::string prefix = test_http::uniquePrefix();
  TempDir copyDir{"qcopy"};
  Package package;
  package.writeIni("[Messages]\r\nMessageUrl1=" + url(prefix) + "start?src=pkg\r\n");
  std::vector<test_http::Received> seen;
  runWatchingStart(package, testing_support::makeSampleCopy(copyDir.path()), prefix, &seen);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].path(), prefix + "start?src=pkg&pid=0&cid=" + installer::computerId() + "&did=")
      << "pid 0 and an empty did by default";
}

TEST(NotifyRun, SuccessOpensThePageThenNotifies) {
  const std::string prefix = test_http::uniquePrefix();
  TempDir copyDir{"ncopy"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  test_terminal::ShellOpenRecorder browser;
  Package package;
  package.addFile("a.ex4", "a");
  package.writeIni(
      "[Info]\r\nPackageId=12\r\nDownloadId=x\r\n[Install]\r\na.ex4=experts\r\n"
      "[Messages]\r\nMessageUrl3=" +
      url(prefix) + "done\r\n[Webpages]\r\nWebPage3=https://localhost/thanks?lang=en\r\n");
  const auto result = package.run(copy);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  const std::string cid = installer::computerId();
  std::vector<std::string> opened;
  testing_support::waitUntil([&] { return !(opened = browser.opened()).empty(); }, 5000);
  EXPECT_EQ(opened, std::vector<std::string>{"https://localhost/thanks?lang=en&pid=12&cid=" + cid + "&did=x"});
  const auto seen = test_http::requests(prefix);
  ASSERT_EQ(seen.size(), 1u) << "MessageUrl3 is waited for, so it has arrived when the run ends";
  EXPECT_EQ(seen[0].path(), prefix + "done?pid=12&cid=" + cid + "&did=x");
}

TEST(NotifyRun, FailedInstallSendsNothingAndOpensNothing) {
  const std::string prefix = test_http::uniquePrefix();
  TempDir copyDir{"fcopy"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  test_terminal::ShellOpenRecorder browser;
  Package package;
  const std::string messages =
      "[Messages]\r\nMessageUrl3=" + url(prefix) + "done\r\n[Webpages]\r\nWebPage3=" + url(prefix) + "page\r\n";
  package.writeIni("[Info]\r\nDownloadId=failed\r\n[Install]\r\nmissing.ex4=experts\r\n" + messages);
  const auto failed = package.run(copy);
  EXPECT_EQ(failed.captions(), (std::vector<std::string>{"File missing from installation", "Install failed"}));

  // What the failed run would have sent or opened it did before it ended: a
  // later run that succeeds is seen notifying and opening its page after it.
  package.addFile("missing.ex4", "now here");
  package.writeIni("[Info]\r\nDownloadId=later\r\n[Install]\r\nmissing.ex4=experts\r\n" + messages);
  EXPECT_EQ(package.run(copy).captions(), std::vector<std::string>{"Install successful"});
  std::vector<std::string> opened;
  testing_support::waitUntil([&] { return !(opened = browser.opened()).empty(); }, 5000);
  const std::string cid = installer::computerId();
  EXPECT_EQ(opened, std::vector<std::string>{url(prefix) + "page?pid=0&cid=" + cid + "&did=later"});
  const auto seen = test_http::requests(prefix);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].path(), prefix + "done?pid=0&cid=" + cid + "&did=later");
}

TEST(NotifyServer, ExtraParameterIsSentAsItStands) {
  TempDir dir{"notify"};
  const std::string prefix = test_http::uniquePrefix();
  const std::string ini = dir / "install.ini";
  testing_support::writeFile(ini, "[Messages]\r\nMessageUrl2=" + url(prefix) + "mt4\r\n");
  installer::notifyServer(ini, installer::keys::MessageUrl2, "Broker One&Co", false);
  installer::notifyServer(ini, installer::keys::MessageUrl3, "", false);  // no address: nothing
  const auto seen = test_http::requests(prefix);
  ASSERT_EQ(seen.size(), 1u);
  const std::string path = seen[0].path();
  const std::string tail = path.substr(path.find("&p1=") + 4);
  // WinHTTP escapes the space on the wire (a request line cannot hold one);
  // nothing else is encoded.
  EXPECT_EQ(tail, "Broker%20One&Co") << path;
  EXPECT_EQ(installer::computerId(), installer::computerId());
}

}  // namespace

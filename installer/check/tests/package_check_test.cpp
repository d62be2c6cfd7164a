// marvolt-check over packages broken as publishers break them, and over the
// sample package, through the checker and through the program itself.
#include "installer/check/package_check.h"
#include "testing/support/host_path.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using installer::checkPackage;

// A package folder of its own, gone with everything in it at the end.
class Scratch {
 public:
  Scratch() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() / ("mcheck-" + std::to_string(reinterpret_cast<std::uintptr_t>(this) & 0xffffff) +
                                         "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& path() const { return path_; }
  void write(const std::string& relative, const std::string& bytes) const {
    fs::path file = path_;
    std::string part;
    for (char c : relative + "\\") {
      if (c == '\\') {
        file /= part;
        part.clear();
      } else {
        part += c;
      }
    }
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
  }

 private:
  fs::path path_;
};

std::vector<std::string> linesOf(const installer::PackageCheck& check) {
  std::vector<std::string> lines;
  for (const auto& f : check.findings) lines.push_back(installer::formatFinding("install.ini", f));
  return lines;
}

const std::string kNoDestination =
    " is neither a token (windows, system32, syswow64, system64, mql4) nor a folder relative to the copy";

// Each case: the package's files beside install.ini, its install.ini, and
// every line the checker gives, in order.
TEST(PackageCheck, BrokenPackagesGiveTheirLines) {
  const struct {
    const char* name;
    std::map<std::string, std::string> files;
    std::string ini;
    std::vector<std::string> lines;
  } cases[] = {
      {"misspelt [Install] header",
       {{"a.ex4", "a"}},
       "[Info]\nCaption=X\n[Instal]\na.ex4=mql4\\Experts\n",
       {"install.ini:3: error: unknown section [Instal]; did you mean [Install]?",
        "install.ini: error: no [Install] section: the package installs no file"}},
      {"empty [Install]",
       {},
       "[Install]\n; nothing yet\n",
       {"install.ini:1: error: [Install] lists no file: the package installs nothing"}},
      {"[Install] line without \"=\"",
       {{"a.ex4", "a"}},
       "[Install]\na.ex4\n",
       {"install.ini:1: error: [Install] lists no file: the package installs nothing",
        "install.ini:2: error: \"a.ex4\" in [Install] has no \"=\": the installer does not see it"}},
      {"unknown key with its nearest name",
       {{"a.ex4", "a"}},
       "[Info]\nCaptoin=X\nPackageID=3\nWhatever=1\n[Install]\na.ex4=experts\n",
       {"install.ini:2: error: unknown key Captoin in [Info]; did you mean Caption?",
        "install.ini:4: error: unknown key Whatever in [Info]"}},
      {"unsupported VersionCheck",
       {{"a.ex4", "a"}},
       "[DotNet]\nVersionCheck=480\n[Install]\na.ex4=experts\n",
       {"install.ini:2: error: VersionCheck=480 asks for no .NET Framework version the installer knows: use 200, "
        "300, 350 or 400 (0: none)"}},
      {"VersionCheck that is no number",
       {{"a.ex4", "a"}},
       "[DotNet]\nVersionCheck=3.5\n[Install]\na.ex4=experts\n",
       {"install.ini:2: error: VersionCheck=3.5 is not a decimal number: the installer reads 3",
        "install.ini:2: error: VersionCheck=3.5 asks for no .NET Framework version the installer knows: use 200, "
        "300, 350 or 400 (0: none)"}},
      {"sources missing from the folder",
       {{"Sub\\B.ex4", "b"}},
       "[Install]\na.ex4=experts\nsub\\b.ex4=experts\n..\\c.ex4=experts\n[Run]\ntools\\setup.exe=/quiet\n"
       "notepad.exe=readme.txt\n",
       {"install.ini:2: error: source a.ex4 in [Install] is not in the package folder",
        "install.ini:4: error: source ..\\c.ex4 in [Install] lies outside the package folder",
        "install.ini:6: error: source tools\\setup.exe in [Run] is not in the package folder",
        "install.ini:7: warning: program notepad.exe in [Run] is not in the package folder: the shell looks for it "
        "on the system's path"}},
      {"destinations and flags",
       {{"a.ex4", "a"}, {"b.ex4", "b"}, {"c.ex4", "c"}, {"d.ex4", "d"}, {"e.ex4", "e"}, {"f.ex4", "f"}},
       "[Install]\na.ex4=C:\\MT4\\experts\nb.ex4=experts\\..\\..\\x\nc.ex4=experts,2\nd.ex4=MQL4\\Experts, 1\n"
       "e.ex4=windows,yes\nf.ex4=\n",
       {"install.ini:2: error: destination \"C:\\MT4\\experts\" of a.ex4" + kNoDestination,
        "install.ini:3: error: destination \"experts\\..\\..\\x\" of b.ex4" + kNoDestination,
        "install.ini:4: error: flags \"2\" of c.ex4: only 0 and 1 have a meaning (the installer reads 2)",
        "install.ini:6: error: flags \"yes\" of e.ex4: only 0 and 1 have a meaning",
        "install.ini:7: error: f.ex4 has no destination: the installer says \"No destination for file\""}},
      {"terms file and MetaTrader 4 location",
       {{"a.ex4", "a"}},
       "[Licensing]\nAgreementUrl=terms.htm\n[MT4Install]\nMT4Location=ftp://example.com/mt4setup.exe\n"
       "[Install]\na.ex4=experts\n",
       {"install.ini:2: error: AgreementUrl names the file terms.htm, which is not in the package folder",
        "install.ini:4: error: MT4Location=ftp://example.com/mt4setup.exe is neither empty, \"ask!\", a key of the "
        "app-store server nor an http(s) address"}},
      {"location without its scheme",
       {{"a.ex4", "a"}, {"terms.htm", "t"}},
       "[Licensing]\nAgreementUrl=TERMS.HTM\n[MT4Install]\nMT4Location=www.example.com/mt4setup.exe\n"
       "[Install]\na.ex4=experts\n",
       {"install.ini:4: error: MT4Location=www.example.com/mt4setup.exe is neither empty, \"ask!\", a key of the "
        "app-store server nor an http(s) address"}},
      {"values cut by their buffers",
       {{"a.ex4", "a"}},
       "[Info]\nCaption=" + std::string(1000, 'c') + "\nDownloadId=" + std::string(99, 'd') +
           "\n[Text]\nSuccess=" + std::string(1999, 's') + "\n[Install]\na.ex4=experts\n",
       {"install.ini:2: warning: the value of Caption is 1000 characters: the installer reads only the first 999",
        "install.ini:3: error: the value of DownloadId is 99 characters: the installer reads only the first 98",
        "install.ini:5: warning: the value of Success is 1999 characters: the installer reads only the first 1998"}},
      {"repeated section and key, lines the installer never reads",
       {{"a.ex4", "a"}, {"b.ex4", "b"}},
       "Caption=early\n[Install]\na.ex4=experts\n[Info]\nCaption=A\ncaption=B\njust words\n[install]\n"
       "b.ex4=experts\n",
       {"install.ini:1: warning: line before the first section: the installer never reads it",
        "install.ini:6: warning: key caption again in [Info]: the installer reads the first",
        "install.ini:7: warning: \"just words\" is no key=value line: the installer ignores it",
        "install.ini:8: error: section [install] again (first at line 2): the installer reads only the first"}},
      {"log file that is no file name",
       {{"a.ex4", "a"}},
       "[Info]\nLogFile=C:\\logs\\run.log\n[Install]\na.ex4=experts\n",
       {"install.ini:2: error: LogFile=C:\\logs\\run.log is no plain file name (the log goes into the temporary "
        "folder)"}},
      {"no install.ini",
       {{"a.ex4", "a"}},
       "",
       {"install.ini: error: no install.ini in the package folder: the "
        "installer stops at once"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch package;
    for (const auto& [name, bytes] : c.files) package.write(name, bytes);
    if (!c.ini.empty()) package.write("install.ini", c.ini);
    const auto check = checkPackage(package.path().string());
    ASSERT_TRUE(check.readable) << check.problem;
    EXPECT_EQ(linesOf(check), c.lines);
    EXPECT_EQ(installer::checkExitCode(check), 1);
  }
}

TEST(PackageCheck, CleanPackageGivesNoLine) {
  Scratch package;
  for (const char* name : {"a.ex4", "Docs\\terms.htm", "tools\\helper.exe"}) package.write(name, "x");
  package.write("install.ini",
                "; comments and blank lines are fine\r\n\r\n[Info]\r\nCaption = \"Quoted caption\"\r\nInfoId=-1\r\n"
                "LogFile=pkg.log\r\n[DotNet]\r\nVersionCheck=400\r\n[Licensing]\r\nAgreementUrl=docs\\terms.htm\r\n"
                "[MT4Install]\r\nMT4Location=Broker One&Co\r\n[Install]\r\nA.EX4=mql4\\Experts,1\r\n"
                "tools\\helper.exe=,0\r\n[Run]\r\ntools\\helper.exe=--quiet\r\nhttps://example.com/thanks=\r\n"
                "[Text]\r\nSuccess=\r\nInUse=Close it~then try again\r\n");
  const auto check = checkPackage(package.path().string());
  EXPECT_TRUE(linesOf(check).empty()) << linesOf(check)[0];
  EXPECT_EQ(installer::checkExitCode(check), 0);
}

TEST(PackageCheck, FolderThatCannotBeReadGivesTwo) {
  Scratch parent;
  parent.write("file", "not a folder");
  for (const fs::path& folder : {parent.path() / "missing", parent.path() / "file"}) {
    const auto check = checkPackage(folder.string());
    EXPECT_FALSE(check.readable) << folder;
    EXPECT_EQ(installer::checkExitCode(check), 2) << folder;
  }
}

TEST(PackageCheck, NearestNameOnlyWhenNear) {
  const std::vector<std::string> known = {"Install", "Info", "Run", "Delete", "Directories", "Text"};
  EXPECT_EQ(installer::nearestName("Instal", known), "Install");
  EXPECT_EQ(installer::nearestName("INSTALLS", known), "Install");
  EXPECT_EQ(installer::nearestName("Dirs", known), "");
  EXPECT_EQ(installer::nearestName("Runs", known), "Run");
  EXPECT_EQ(installer::nearestName("Zq", known), "");
}

// The program itself: its lines on standard output, its exit code.
struct ProgramRun {
  int exitCode = -1;
  std::string output;
};

ProgramRun runChecker(const std::string& folder) {
  const std::string program = testing_support::hostPath(MARVOLT_CHECK_EXE);
#ifdef _WIN32
  // cmd.exe takes the outer quotes off a line that begins with one.
  const std::string command = "\"\"" + program + "\" \"" + folder + "\"\"";
  FILE* pipe = _popen(command.c_str(), "r");
#else
  const std::string command = "'" + program + "' '" + folder + "'";
  FILE* pipe = popen(command.c_str(), "r");
#endif
  ProgramRun run;
  if (!pipe) return run;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
#ifdef _WIN32
  run.exitCode = _pclose(pipe);
#else
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  std::string clean;
  for (char c : run.output)
    if (c != '\r') clean += c;
  run.output = clean;
  return run;
}

TEST(MarvoltCheckProgram, ExitCodesAndCompilerStyleLines) {
  Scratch broken;
  broken.write("install.ini", "[DotNet]\nVersionCheck=480\n");
  const ProgramRun bad = runChecker(broken.path().string());
  EXPECT_EQ(bad.exitCode, 1) << bad.output;
  const std::string file = (broken.path() / "install.ini").string();
  EXPECT_NE(bad.output.find(":2: error: VersionCheck=480"), std::string::npos) << bad.output;
  EXPECT_NE(bad.output.find(": error: no [Install] section"), std::string::npos) << bad.output;
  std::size_t start = 0;
  for (std::size_t end; (end = bad.output.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_EQ(bad.output.compare(start, file.size(), file), 0) << "a line that does not name the file: " << bad.output;

  const ProgramRun missing = runChecker((broken.path() / "no-such-folder").string());
  EXPECT_EQ(missing.exitCode, 2) << missing.output;
  EXPECT_TRUE(missing.output.empty()) << "the reason goes to standard error: " << missing.output;
}

// The sample package as the demo ships it: the [Run] helper it names is
// put beside it when the demo assembles the package.
TEST(MarvoltCheckProgram, SamplePackageChecksClean) {
  Scratch package;
  for (const auto& entry : fs::directory_iterator(testing_support::hostPath(SAMPLE_PACKAGE)))
    fs::copy_file(entry.path(), package.path() / entry.path().filename());
  package.write("register.exe", "MZ");
  const ProgramRun run = runChecker(package.path().string());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "");
}

}  // namespace

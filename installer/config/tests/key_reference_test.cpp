// docs/install-ini.md against the installer's table of keys: a key the
// installer reads and the reference leaves out, or a key the reference names
// and the installer never reads, fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "installer/config/install_ini_keys.h"
#include "testing/support/host_path.h"

namespace {

using installer::KeyType;

struct Row {
  std::string section, key, line;
};

// Rows of the reference's key tables: a "## [Section]" heading of a section
// of named keys, then table lines whose first cell is a key in backquotes.
// (The sections whose keys are file names hold no key table.)
std::vector<Row> referenceRows() {
  std::ifstream in(testing_support::hostPath(INSTALL_INI_DOC));
  EXPECT_TRUE(in) << "cannot read " << INSTALL_INI_DOC;
  std::vector<Row> rows;
  std::string section, line;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      const auto open = line.find('['), close = line.find(']');
      section = line.size() > 3 && line[3] == '[' && close != std::string::npos
                    ? line.substr(open + 1, close - open - 1)
                    : std::string();
      for (const auto& listed : installer::listedSections())
        if (section == listed.name) section.clear();
      continue;
    }
    if (section.empty() || line.rfind("| `", 0) != 0) continue;
    const auto end = line.find('`', 3);
    if (end == std::string::npos) continue;
    rows.push_back({section, line.substr(3, end - 3), line});
  }
  return rows;
}

// Defaults are shown as a publisher writes them: "~" for a line break.
std::string asWritten(std::string text) {
  std::string written;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      written += '~';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      written += text[i];
    }
  }
  return written;
}

std::string cell(const std::string& line, int index) {
  std::size_t at = 0;
  for (int i = 0; i <= index; ++i) {
    at = line.find('|', at);
    if (at == std::string::npos) return {};
    ++at;
  }
  const auto end = line.find('|', at);
  std::string text = line.substr(at, end - at);
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

TEST(InstallIniReference, NamesEveryKeyTheInstallerReadsAndNoOther) {
  const auto rows = referenceRows();
  ASSERT_FALSE(rows.empty());
  std::set<std::pair<std::string, std::string>> documented, read;
  for (const auto& row : rows) documented.insert({row.section, row.key});
  for (const auto& known : installer::knownKeys()) read.insert({known.section, known.key});
  for (const auto& key : read)
    EXPECT_TRUE(documented.count(key)) << "[" << key.first << "] " << key.second << " is read but not in the reference";
  for (const auto& key : documented)
    EXPECT_TRUE(read.count(key)) << "[" << key.first << "] " << key.second
                                 << " is in the reference but the installer never reads it";
  EXPECT_EQ(rows.size(), documented.size()) << "a key is listed twice";
}

TEST(InstallIniReference, GivesEachKeysDefaultAndLimit) {
  const auto rows = referenceRows();
  for (const auto& known : installer::knownKeys()) {
    SCOPED_TRACE(std::string(known.section) + " " + known.key);
    const Row* row = nullptr;
    for (const auto& r : rows)
      if (r.section == known.section && r.key == known.key) row = &r;
    if (!row) continue;  // the test above names it
    const std::string defaultCell = cell(row->line, 2);
    const std::string limitCell = cell(row->line, 3);
    if (known.type == KeyType::Integer) {
      EXPECT_EQ(defaultCell, std::to_string(known.defaultNumber));
      EXPECT_EQ(limitCell, "");
      continue;
    }
    const std::string written = asWritten(known.defaultText);
    EXPECT_EQ(defaultCell, written.empty() ? "(empty)" : written);
    EXPECT_EQ(limitCell, std::to_string(known.bound));
  }
}

TEST(InstallIniReference, HasASectionForEveryListedSection) {
  std::ifstream in(testing_support::hostPath(INSTALL_INI_DOC));
  std::stringstream text;
  text << in.rdbuf();
  for (const auto& listed : installer::listedSections())
    EXPECT_NE(text.str().find(std::string("\n## [") + listed.name + "]\n"), std::string::npos) << listed.name;
}

}  // namespace

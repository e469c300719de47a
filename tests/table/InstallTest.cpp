// Installing into a fresh prefix leaves the program, the companion and the
// manual page, and nothing else.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "TableTestSupport.h"

namespace fs = std::filesystem;

TEST(Install, LeavesExactlyTheProgramsAndTheManualPage) {
  tabletest::ScratchDir prefix;
  ASSERT_FALSE(prefix.path().empty());
  tabletest::RunResult install =
      tabletest::run({TARNU_CMAKE_COMMAND, "--install", TARNU_BUILD_DIR, "--prefix", prefix.path().string()});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  std::set<std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(prefix.path()))
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), prefix.path()).string());
  EXPECT_EQ(files, (std::set<std::string>{"bin/tarnu", "bin/tarnu-table", "share/man/man1/tarnu.1"}));
  for (const char *program : {"bin/tarnu", "bin/tarnu-table"}) {
    fs::perms perms = fs::status(prefix.path() / program).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none) << program;
  }
  EXPECT_EQ(tabletest::readFile(prefix.path() / "share/man/man1/tarnu.1"),
            tabletest::readFile(tabletest::sourceDir() / "man" / "tarnu.1"));
  tabletest::RunResult help = tabletest::run({(prefix.path() / "bin/tarnu-table").string(), "--help"});
  EXPECT_EQ(help.status, 0);
}

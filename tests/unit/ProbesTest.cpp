// The memory probes give the figures of this process and of the machine,
// through their result files in the working directory, in the form those
// files have.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <unistd.h>

#include "Support.h"
#include "base/MemoryProbes.h"

namespace {

TEST(Probes, GiveTheResidentMemoryOfTheProcessAndTheFreeMemoryOfTheMachine) {
  test::ScratchDir dir;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  double used = Memory_getUsedMemory(), free = Memory_getFreeMemory();
  ASSERT_EQ(chdir(previous), 0);
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  double expected = static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
  EXPECT_GT(used, 0.5 * expected);
  EXPECT_LT(used, 2.0 * expected + 1);
  EXPECT_GT(free, 0.0);
  EXPECT_TRUE(std::regex_match(test::readFile(dir.file("memUsage")), std::regex("   VSZ   RSS\n *[0-9]+ +[0-9]+\n")));
  EXPECT_TRUE(std::regex_search(test::readFile(dir.file("freeMem")), std::regex("\nPages free: [0-9]+\\.\n")));
}

} // namespace

// The memory probes: what they read back from their result files.

#include <gtest/gtest.h>

#include <unistd.h>

#include "TestSupport.h"
#include "run/MemoryProbes.h"

namespace {

TEST(Probes, UsedMemoryIsTheResidentSizeOfTheSecondLine) {
  test::ScratchDir dir;
  test::writeFile(dir.file("memUsage"), "   VSZ   RSS\n 45000  2048\n");
  EXPECT_DOUBLE_EQ(Memory_scanUsedMemoryFile(dir.file("memUsage").c_str()), 2.0);
  test::writeFile(dir.file("memUsage"), "   VSZ   RSS\n");
  EXPECT_DOUBLE_EQ(Memory_scanUsedMemoryFile(dir.file("memUsage").c_str()), 0.0);
  // A header line filling the whole line buffer stops the scan.
  test::writeFile(dir.file("memUsage"), std::string(1023, 'x') + "\n 45000 2048\n");
  EXPECT_DOUBLE_EQ(Memory_scanUsedMemoryFile(dir.file("memUsage").c_str()), 0.0);
  EXPECT_DOUBLE_EQ(Memory_scanUsedMemoryFile(dir.file("missing").c_str()), 0.0);
}

TEST(Probes, FreeMemoryIsOnePageLessThanTheCountRead) {
  test::ScratchDir dir;
  test::writeFile(dir.file("freeMem"), "Memory Statistics: (page size of 4096 bytes)\nPages free: 257.\nPages free: 9.\n");
  EXPECT_DOUBLE_EQ(Memory_scanFreeMemoryFile(dir.file("freeMem").c_str()), 1.0);
  test::writeFile(dir.file("freeMem"), "nothing here\n");
  EXPECT_DOUBLE_EQ(Memory_scanFreeMemoryFile(dir.file("freeMem").c_str()), -2 * 4096.0 / 1048576.0);
}

TEST(Probes, LinksAreNotFollowedWhenReadingBack) {
  test::ScratchDir dir;
  test::writeFile(dir.file("real"), "   VSZ   RSS\n 45000  2048\n");
  ASSERT_EQ(symlink(dir.file("real").c_str(), dir.file("memUsage").c_str()), 0);
  EXPECT_DOUBLE_EQ(Memory_scanUsedMemoryFile(dir.file("memUsage").c_str()), 0.0);
}

TEST(Probes, AProbeWritesItsFileAndReadsItBack) {
  test::ScratchDir dir;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  double used = Memory_getUsedMemory();
  double available = Memory_getFreeMemory();
  std::string usage = test::readFile(dir.file("memUsage"));
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_GT(used, 0.0) << usage;
  EXPECT_GT(available, 0.0);
  EXPECT_EQ(usage.substr(0, 13), "   VSZ   RSS\n");
}

} // namespace

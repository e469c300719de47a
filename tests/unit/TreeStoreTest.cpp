// The tree's node store takes from the system little more than the nodes it
// holds: its chunks stop doubling at 64 MiB, so that under -memout an
// instance fails only when it needs the memory.

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "Support.h"
#include "tree/QbfTree.h"

namespace {

long addressSpace() {
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * sysconf(_SC_PAGESIZE);
}

TEST(TreeStore, TakesAtMostOneBoundedChunkMoreThanItsNodes) {
  if (test::sanitized()) GTEST_SKIP() << "the sanitizers' allocator maps address space of its own";
  QbfTree tree;
  // One node past ten chunks of 4096 nodes doubling: an eleventh chunk that
  // doubled again would hold four million nodes.
  const long nodes = 4096L * ((1 << 10) - 1) + 1;
  long before = addressSpace();
  for (long i = 0; i < nodes; i++) QbfTree_allocNode(&tree);
  EXPECT_LT(addressSpace() - before, nodes * static_cast<long>(sizeof(QbfTreeNode)) + (72L << 20));
}

} // namespace

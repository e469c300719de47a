// The scratch arena's contract, which its borrowers rely on (the dependency
// collection keeps its marking array initialised across borrowings): blocks
// lent at the same time are distinct and as large as asked; a block given
// back comes back with its contents and is not fresh; a full table still
// lends, fresh blocks outside it; flushing starts over.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "storage/Memory.h"

namespace {

struct Loan {
  void *block;
  int slot, fresh;
};

// A block of the size, filled unless asked not to (the sanitizers check that
// it is as large as asked).
Loan borrow(int size, bool fill = true) {
  Loan loan{nullptr, -2, -1};
  loan.block = Memory_allocBuffer(&loan.slot, &loan.fresh, size);
  if (fill) std::memset(loan.block, 0x5a, static_cast<std::size_t>(size));
  return loan;
}

TEST(Arena, KeepsItsContract) {
  Memory_init();
  Loan a = borrow(1000), b = borrow(1000), c = borrow(400);
  EXPECT_EQ(std::set<void *>({a.block, b.block, c.block}).size(), 3u) << "blocks lent together are distinct";
  EXPECT_TRUE(a.fresh && b.fresh && c.fresh);
  std::strcpy(static_cast<char *>(b.block), "kept");
  Memory_release(b.slot);
  Loan again = borrow(600, false);
  EXPECT_EQ(again.block, b.block) << "a block given back is lent again";
  EXPECT_EQ(again.fresh, 0);
  EXPECT_STREQ(static_cast<char *>(again.block), "kept") << "with its contents";
  Memory_release(again.slot);
  for (Loan loan : {a, c}) Memory_release(loan.slot);

  // Every slot busy: still a block, fresh, outside the table.
  std::vector<Loan> all;
  Loan outside{};
  for (int i = 0; i <= MEMORY_SLOTS && outside.slot >= 0; i++) {
    Loan loan = borrow(8);
    (loan.slot < 0 ? outside : all.emplace_back()) = loan;
  }
  ASSERT_EQ(outside.slot, -1) << "a full table lends outside it";
  EXPECT_EQ(outside.fresh, 1);
  std::free(outside.block);
  EXPECT_EQ(std::set<void *>({all.front().block, all[all.size() / 2].block, all.back().block}).size(), 3u);
  Memory_flush();
  Loan after = borrow(8);
  EXPECT_TRUE(after.fresh == 1 && after.slot == 0) << "flushing gives every block back: the table lends from its start";
  Memory_quit();
}

} // namespace

// Lists with their element pool, and the scratch arena.

#include <gtest/gtest.h>

#include <vector>

#include "storage/List.h"
#include "storage/Memory.h"

namespace {

std::vector<int> lits(ListElem *list) {
  std::vector<int> out;
  for (ListElem *e = list; e; e = e->next) {
    if (e->next) {
      EXPECT_EQ(e->next->prev, e);
    }
    out.push_back(e->data.lit);
  }
  return out;
}

TEST(List, InsertionIsAtTheHead) {
  ListElem *list = nullptr;
  List_insertNewLit(&list, 1);
  List_insertNewLit(&list, 2);
  List_insertNewLit(&list, 3);
  EXPECT_EQ(lits(list), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(list->prev, nullptr);
  List_delete(&list);
}

TEST(List, RemovalByPayloadTakesTheOccurrenceNearestTheHead) {
  ListElem *list = nullptr;
  for (int lit : {5, -5, 5, 7}) List_insertNewLit(&list, lit);
  ListElem *pool = freeElemPool;
  List_removeElemContainingLiteral(&list, 4); // absent: nothing changes
  EXPECT_EQ(lits(list), (std::vector<int>{7, 5, -5, 5}));
  EXPECT_EQ(freeElemPool, pool);
  List_removeElemContainingLiteral(&list, 5);
  EXPECT_EQ(lits(list), (std::vector<int>{7, -5, 5}));
  List_removeElemContainingLiteral(&list, 7); // the head
  EXPECT_EQ(lits(list), (std::vector<int>{-5, 5}));
  EXPECT_EQ(list->prev, nullptr);
  List_removeElemContainingLiteral(&list, 5); // the tail
  EXPECT_EQ(lits(list), (std::vector<int>{-5}));
  List_delete(&list);
  EXPECT_EQ(list, nullptr);
}

TEST(List, PoolIsAStackAndFeedsLaterInsertions) {
  ListElem *a = nullptr, *b = nullptr;
  for (int i = 0; i < 5000; i++) List_insertNewLit(&a, i);
  List_delete(&a);
  EXPECT_EQ(a, nullptr);
  long allocated = List_getAllocatedElems();
  for (int i = 0; i < 5000; i++) {
    if (i % 2)
      List_insertNewLit(&b, i);
    else
      List_insertNewLit(&a, i);
  }
  EXPECT_EQ(List_getAllocatedElems(), allocated) << "the next n insertions allocate nothing";
  List_removeElem(b, &b);
  ListElem *released = freeElemPool;
  List_insertNewLit(&a, 99);
  EXPECT_EQ(a, released) << "the element released last is handed out first";
  List_delete(&a);
  List_delete(&b);
  ListElem *empty = nullptr;
  List_delete(&empty);
  EXPECT_EQ(empty, nullptr);
}

TEST(List, NodesAndClausesAreRemovedByIdentity) {
  ListElem *list = nullptr;
  int x = 0, y = 0;
  auto *nx = reinterpret_cast<QbfTreeNode *>(&x);
  auto *ny = reinterpret_cast<QbfTreeNode *>(&y);
  List_insertNewNode(&list, nx);
  List_insertNewNode(&list, ny);
  List_removeElemPointingToNode(&list, nx);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->data.node, ny);
  EXPECT_EQ(list->next, nullptr);
  auto *cx = reinterpret_cast<QbfClause *>(&x);
  List_insertNewClause(&list, cx);
  List_removeElemPointingToClause(&list, cx);
  EXPECT_EQ(list->data.node, ny);
  List_delete(&list);
}

class Arena : public ::testing::Test {
protected:
  void SetUp() override { Memory_init(); }
  void TearDown() override { Memory_flush(); }
};

TEST_F(Arena, ReleasedBlockComesBackWithItsContents) {
  int slot = -2, fresh = -2;
  auto *block = static_cast<char *>(Memory_allocBuffer(&slot, &fresh, 400));
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(fresh, 1);
  block[0] = 'x';
  block[399] = 'y';
  Memory_release(slot);
  auto *again = static_cast<char *>(Memory_allocBuffer(&slot, &fresh, 400));
  EXPECT_EQ(again, block);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(fresh, 0);
  EXPECT_EQ(again[0], 'x');
  EXPECT_EQ(again[399], 'y');
  Memory_release(slot);
}

TEST_F(Arena, BlockServesFromHalfItsSizeToItsSize) {
  int slot = -2, fresh = -2;
  void *block = Memory_allocBuffer(&slot, &fresh, 400);
  Memory_release(slot);
  EXPECT_EQ(Memory_allocBuffer(&slot, &fresh, 200), block);
  EXPECT_EQ(fresh, 0);
  Memory_release(slot);
  Memory_allocBuffer(&slot, &fresh, 199);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(fresh, 1);
  Memory_release(slot);
  Memory_allocBuffer(&slot, &fresh, 401);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(fresh, 1);
  Memory_release(slot);
  EXPECT_EQ(memory[0].size, 400);
  EXPECT_EQ(memory[1].size, 199);
}

TEST_F(Arena, BorrowingsWithoutReleaseGetDifferentSlots) {
  int a = -2, b = -2;
  void *first = Memory_allocBuffer(&a, nullptr, 64);
  void *second = Memory_allocBuffer(&b, nullptr, 64);
  EXPECT_NE(a, b);
  EXPECT_NE(first, second);
  Memory_release(a);
  Memory_release(b);
}

TEST_F(Arena, FlushStartsOver) {
  int slot = -2, fresh = -2;
  Memory_allocBuffer(&slot, &fresh, 64);
  Memory_allocBuffer(&slot, &fresh, 64);
  Memory_flush();
  Memory_allocBuffer(&slot, &fresh, 1000);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(fresh, 1);
  Memory_release(slot);
}

TEST_F(Arena, FullTableLendsAFreshUntrackedBlock) {
  int slot = -2, fresh = -2;
  for (int i = 0; i < MEMORY_SLOTS; i++) Memory_allocBuffer(&slot, nullptr, 8);
  void *extra = Memory_allocBuffer(&slot, &fresh, 8);
  EXPECT_EQ(slot, -1);
  EXPECT_EQ(fresh, 1) << "a block outside the table has undefined contents";
  Memory_release(-1); // does nothing
  std::free(extra);
}

} // namespace

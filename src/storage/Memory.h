#pragma once
// Memory: a fixed table of reusable scratch blocks. A borrower takes a block
// for one operation and hands it back; the block stays allocated and is lent
// again, contents untouched, to a later request between half its recorded
// size and its size. Flushing gives every block back to the system.

constexpr int MEMORY_SLOTS = 10000;

struct MemorySlot {
  int size;     // request size, in bytes, the block was obtained for
  int inUse;    // 1 while lent out
  int hasBlock; // 1 once a block was obtained and not yet given back
  void *block;
};

extern MemorySlot memory[MEMORY_SLOTS];

void Memory_init();
// Lends a block of at least size bytes. *slotIndex receives the slot's index,
// or -1 for a block outside the table (which the caller frees itself). If
// fresh is given it is set to 1 for a block just obtained from the system
// (undefined contents, the block outside the table included) and 0 for a
// block lent before.
void *Memory_allocBuffer(int *slotIndex, int *fresh, int size);
// Marks the slot as no longer lent; -1 (a block outside the table) is ignored.
void Memory_release(int slotIndex);
void Memory_flush();
void Memory_quit();

// Memory: the scratch arena. In this program every borrowing of an instance
// asks for the same size and releases before the next, so slot 0 serves all.

#include "storage/Memory.h"

#include <cassert>
#include <cstdlib>

#include "storage/AbnormalExit.h"

// The process's one arena, as the table's callers share it.
MemorySlot memory[MEMORY_SLOTS];

namespace {
// One past the highest slot ever claimed since the last flush: slots above it
// are untouched, so flushing stops there. (Part of the table's state.)
int slotsClaimed = 0;

constexpr int SITE_REUSE_BLOCK = 58;
constexpr int SITE_CLAIM_BLOCK = 72;
constexpr int SITE_UNTRACKED_BLOCK = 86;

void clearTable(bool releaseBlocks, int slots) {
  for (int i = 0; i < slots; i++) {
    MemorySlot &slot = memory[i];
    if (releaseBlocks && slot.hasBlock) std::free(slot.block);
    slot = MemorySlot{0, 0, 0, nullptr};
  }
  slotsClaimed = 0;
}
} // namespace

// Slots from slotsClaimed on are untouched already: a fresh process clears
// nothing (the table is 240 KB whose pages would each be faulted in, and
// copied again in every instance child).
void Memory_init() { clearTable(false, slotsClaimed); }

void *Memory_allocBuffer(int *slotIndex, int *fresh, int size) {
  if (fresh) *fresh = 0;
  // Slots above those claimed are untouched (size 0): only a request of 0
  // bytes can match one of them.
  const int reusable = size > 0 ? slotsClaimed : MEMORY_SLOTS;
  for (int i = 0; i < reusable; i++) {
    MemorySlot &slot = memory[i];
    if (slot.inUse || !(slot.size / 2 <= size && size <= slot.size)) continue;
    if (!slot.hasBlock) {
      slot.block = checkedMalloc(static_cast<size_t>(size), SITE_REUSE_BLOCK, "Memory");
      slot.hasBlock = 1;
      if (i >= slotsClaimed) slotsClaimed = i + 1;
      if (fresh) *fresh = 1;
    }
    slot.inUse = 1;
    *slotIndex = i;
    return slot.block;
  }
  for (int i = 0; i < MEMORY_SLOTS; i++) {
    MemorySlot &slot = memory[i];
    if (slot.inUse || slot.hasBlock) continue;
    slot.block = checkedMalloc(static_cast<size_t>(size), SITE_CLAIM_BLOCK, "Memory");
    if (i >= slotsClaimed) slotsClaimed = i + 1;
    slot.size = size;
    slot.inUse = 1;
    slot.hasBlock = 1;
    if (fresh) *fresh = 1;
    *slotIndex = i;
    return slot.block;
  }
  // Every slot busy: a block outside the table. It is new memory, so it is
  // reported fresh; its borrower frees it, since releasing -1 does nothing.
  *slotIndex = -1;
  if (fresh) *fresh = 1;
  return checkedMalloc(static_cast<size_t>(size), SITE_UNTRACKED_BLOCK, "Memory");
}

void Memory_release(int slotIndex) {
  assert((slotIndex < 0 || slotIndex >= MEMORY_SLOTS || memory[slotIndex].inUse) && "a block is given back once");
  if (slotIndex >= 0 && slotIndex < MEMORY_SLOTS) memory[slotIndex].inUse = 0;
}

void Memory_flush() { clearTable(true, slotsClaimed); }
void Memory_quit() { Memory_flush(); }

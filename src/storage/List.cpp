// List: insertion, removal and the pool of free elements. When the pool is
// empty, elements are fetched from the system in chunks rather than one at a
// time; the chunk is pushed onto the pool, so everything else (the pool is a
// stack, a list deleted with n elements feeds the next n insertions) holds
// exactly as with single allocations.

#include "storage/List.h"

#include <cassert>
#include <cstdlib>

#include "storage/AbnormalExit.h"

// The process's one pool, which every list of the instance draws from.
ListElem *freeElemPool = nullptr;

namespace {
constexpr int SITE_NEW_ELEM = 31;
constexpr int CHUNK_ELEMS = 1024;

// Chunks obtained so far, linked so that the pool can be released as a whole
// (part of the pool's state).
struct Chunk {
  Chunk *next;
  ListElem elems[CHUNK_ELEMS];
};
Chunk *chunks = nullptr;

void refillPool() {
  auto *chunk = static_cast<Chunk *>(checkedMalloc(sizeof(Chunk), SITE_NEW_ELEM, "List"));
  chunk->next = chunks;
  chunks = chunk;
  for (int i = CHUNK_ELEMS - 1; i >= 0; i--) {
    chunk->elems[i].next = freeElemPool;
    freeElemPool = &chunk->elems[i];
  }
}

ListElem *newElem(ListElem **list) {
  if (!freeElemPool) refillPool();
  ListElem *elem = freeElemPool;
  freeElemPool = elem->next;
  assert((!*list || !(*list)->prev) && "the head of a list has no predecessor");
  if (*list) (*list)->prev = elem;
  elem->next = *list;
  elem->prev = nullptr;
  *list = elem;
  return elem;
}

void pushOntoPool(ListElem *elem) {
  elem->next = freeElemPool;
  freeElemPool = elem;
}
} // namespace

void List_insertNewClause(ListElem **list, QbfClause *clause) { newElem(list)->data.clause = clause; }
void List_insertNewNode(ListElem **list, QbfTreeNode *node) { newElem(list)->data.node = node; }
void List_insertNewLit(ListElem **list, int lit) { newElem(list)->data.lit = lit; }

void List_removeElem(ListElem *elem, ListElem **list) {
  assert(elem->prev == nullptr || elem->prev->next == elem);
  assert(elem->next == nullptr || elem->next->prev == elem);
  if (*list) {
    if (elem->prev)
      elem->prev->next = elem->next;
    else
      *list = elem->next;
    if (elem->next) elem->next->prev = elem->prev;
  }
  pushOntoPool(elem);
}

void List_removeElemPointingToNode(ListElem **list, QbfTreeNode *node) {
  for (ListElem *e = *list; e; e = e->next)
    if (e->data.node == node) return List_removeElem(e, list);
}

void List_delete(ListElem **list) {
  ListElem *e = *list;
  while (e) {
    ListElem *next = e->next;
    pushOntoPool(e);
    e = next;
  }
  *list = nullptr;
}

void List_resetPool() {
  while (chunks) {
    Chunk *next = chunks->next;
    std::free(chunks);
    chunks = next;
  }
  freeElemPool = nullptr;
}

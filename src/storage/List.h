#pragma once
// List: doubly linked lists of ListElem addressed by a pointer to their head.
// Insertion is always at the head. Removed elements go to the process-wide
// stack freeElemPool and are reused by the next insertion into any list; they
// are never given back to the system. A list never owns its payloads.

struct QbfClause;
struct QbfTreeNode;

struct ListElem {
  union {
    QbfClause *clause;
    QbfTreeNode *node;
    int lit;
  } data;
  ListElem *next; // also links the pool while the element lies there
  ListElem *prev;
};

extern ListElem *freeElemPool;

void List_insertNewClause(ListElem **list, QbfClause *clause);
void List_insertNewNode(ListElem **list, QbfTreeNode *node);
void List_insertNewLit(ListElem **list, int lit);
// Unlinks the element from the list and pushes it onto the pool.
void List_removeElem(ListElem *elem, ListElem **list);
// Removes the element nearest the head with that payload; nothing if none.
void List_removeElemPointingToNode(ListElem **list, QbfTreeNode *node);
// Moves every element to the pool and empties the list.
void List_delete(ListElem **list);

// Forgets the pool (the fuzzing harness starts each input from scratch; the
// elements of the forgotten pool are released).
void List_resetPool();

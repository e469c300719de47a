// QbfTree: construction with duplicated universal nodes, the measures and the
// summary, and the deletion.

#include "tree/QbfTree.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

#include "base/OutputTexts.h"
#include "formula/QbFormula.h"
#include "storage/AbnormalExit.h"

namespace {
constexpr const char *MODULE = "QbfTree";
constexpr int SITE_NEW_TREE = 58;
constexpr int SITE_TABLES = 67;
constexpr int SITE_NODES = 75;
constexpr int SITE_STACK = 213;
constexpr int SITE_COUNT = 260;
constexpr int SITE_EDGES = 118;
constexpr std::size_t CHUNK_NODES = 4096;
constexpr std::size_t MAX_CHUNK_BYTES = std::size_t{64} << 20;
constexpr std::size_t MAX_CHUNK_NODES = MAX_CHUNK_BYTES / sizeof(QbfTreeNode);

unsigned long processorClock() { return static_cast<unsigned long>(std::clock()); }

// The construction in two passes.
//
// Every node hangs below the node (or a fresh copy, for a universal) of the
// largest variable outside it that the clauses of its subtree mention: its
// deepest dependency. Collecting each subtree's variables into a set and
// merging the sets upwards, as a direct reading suggests, copies the sets at
// every step: time quadratic in the depth for formulas whose outer variables
// are mentioned deep down (free variables, for one). Instead:
//
// 1. findFathers: the variables are visited from the innermost outwards. At
//    variable w, every subtree built so far that has a clause mentioning w
//    (and is not w's own) has w as its deepest dependency: it is joined to
//    w's node, or, for a universal w, gets a copy of w of its own. Subtrees
//    are kept in a union-find structure, so that a clause's owner leads to
//    the top of its subtree quickly; each clause variable is looked at once.
//    This is the elimination-tree computation of sparse matrix factorisation.
// 2. attach: the placement loop runs in the order that fixes node codes and
//    child order (innermost variable first; the copies of a universal in the
//    reverse order of their making), attaching each node to the father found
//    in pass 1 and giving each copy its code as it is made.

// During the first pass a node's father field is its union-find link (null
// at the top of a subtree), its nextBrother the father it will have, and a
// copy's firstChild the next copy of the same universal (see QbfTreeNode.h).
QbfTreeNode *&unionFindOf(QbfTreeNode *n) { return n->father; }
QbfTreeNode *&fatherToBeOf(QbfTreeNode *n) { return n->nextBrother; }
QbfTreeNode *&nextCopyOf(QbfTreeNode *n) { return n->firstChild; }

// The top of n's subtree, compressing the path on the way.
QbfTreeNode *topOf(QbfTreeNode *n) {
  QbfTreeNode *top = n;
  while (unionFindOf(top)) top = unionFindOf(top);
  while (n != top) {
    QbfTreeNode *next = unionFindOf(n);
    if (next != top) unionFindOf(n) = top;
    n = next;
  }
  return top;
}

// For every variable w, the variables v > w whose clauses mention w: the
// owners of the clauses, listed by the dependencies they reach.
struct OwnersByDependency {
  OwnersByDependency() : first(SITE_EDGES, MODULE), owners(SITE_EDGES, MODULE) {}
  CheckedArray<std::size_t> first; // w's owners: [first[w], first[w + 1])
  CheckedArray<int> owners;
};

void listOwnersByDependency(QbFormula *f, OwnersByDependency &by) {
  const std::size_t V = static_cast<std::size_t>(QbFormula_getVarNumber(f));
  // Each owner's dependencies (its own variable dropped), one after the other.
  CheckedArray<int> dependencies(SITE_EDGES, MODULE);
  CheckedArray<std::size_t> dependenciesOf(SITE_EDGES, MODULE); // v's: [dependenciesOf[v], dependenciesOf[v + 1])
  dependenciesOf.growUninitialized(V + 1);
  dependenciesOf[0] = 0;
  by.first.growTo(V + 1, 0);
  for (std::size_t v = 1; v < V; v++) {
    dependenciesOf[v] = dependencies.size();
    if (QbFormula_appendDependenciesOfClausesAttachedAtQuantifier(f, static_cast<int>(v), dependencies) > 0) {
      assert(dependencies.back() == static_cast<int>(v) && "the deepest dependency of v's clauses is v");
      dependencies.pop();
    }
    for (std::size_t i = dependenciesOf[v]; i < dependencies.size(); i++)
      by.first[static_cast<std::size_t>(dependencies[i]) + 1]++;
  }
  dependenciesOf[V] = dependencies.size();
  // Then the owners by dependency (a counting sort).
  for (std::size_t w = 1; w <= V; w++) by.first[w] += by.first[w - 1];
  by.owners.growUninitialized(by.first[V]);
  CheckedArray<std::size_t> next(SITE_EDGES, MODULE);
  next.growUninitialized(V);
  std::memcpy(next.data(), by.first.data(), V * sizeof(std::size_t));
  for (std::size_t v = 1; v < V; v++)
    for (std::size_t i = dependenciesOf[v]; i < dependenciesOf[v + 1]; i++)
      by.owners[next[static_cast<std::size_t>(dependencies[i])]++] = static_cast<int>(v);
}

void findFathers(QbfTree *t) {
  QbFormula *f = t->formula;
  const int V = QbFormula_getVarNumber(f);
  OwnersByDependency by;
  listOwnersByDependency(f, by);

  // The copies made so far of each universal (its clauses belong to all).
  CheckedArray<QbfTreeNode *> copiesOf(SITE_EDGES, MODULE);
  copiesOf.growTo(static_cast<std::size_t>(V), nullptr);
  // The subtree of owner, unless it hangs at w already, gets w (or a new
  // copy of universal w) as its father.
  auto reach = [&](QbfTreeNode *owner, int w) {
    QbfTreeNode *top = topOf(owner);
    if (top->variable == w) return;
    QbfTreeNode *father;
    if (QbFormula_getQuantifierType(f, w) == 'e') {
      father = t->nodeForVar[static_cast<std::size_t>(w)];
    } else {
      father = QbfTree_allocNode(t);
      QbfTreeNode_init(father, t, 'a', w, false);
      nextCopyOf(father) = copiesOf[static_cast<std::size_t>(w)];
      copiesOf[static_cast<std::size_t>(w)] = father;
    }
    fatherToBeOf(top) = father;
    unionFindOf(top) = father;
  };
  for (int w = V - 1; w >= 1; w--)
    for (std::size_t e = by.first[static_cast<std::size_t>(w)]; e < by.first[static_cast<std::size_t>(w) + 1]; e++) {
      int owner = by.owners[e];
      if (QbFormula_getQuantifierType(f, owner) == 'e')
        reach(t->nodeForVar[static_cast<std::size_t>(owner)], w);
      else
        for (QbfTreeNode *copy = copiesOf[static_cast<std::size_t>(owner)]; copy; copy = nextCopyOf(copy))
          reach(copy, w);
    }

  // The copies' child links served as lists; attach() makes them children.
  for (int v = 1; v < V; v++)
    for (QbfTreeNode *copy = copiesOf[static_cast<std::size_t>(v)]; copy;)
      copy = std::exchange(nextCopyOf(copy), nullptr);
}

// Hangs a node below its father; a copy takes its code when it is made, and
// waits among the copies of its universal to be placed in turn. A node with
// no father goes below the root if it has a child or a clause, and stays out
// of the tree if not.
void place(QbfTree *t, QbfTreeNode *n) {
  QbfTreeNode *father = fatherToBeOf(n);
  n->father = nullptr; // the first pass's union-find link
  n->nextBrother = nullptr;
  if (father) {
    if (father->quantifier == 'a') {
      if (nodeCode == INT_MAX) abnormalExit(ERR_NO_MEMORY, SITE_NODES, MODULE);
      father->code = nodeCode++;
      t->nodeCount++;
      List_insertNewNode(&t->universalCopies[static_cast<std::size_t>(father->variable)], father);
    }
    QbfTreeNode_setFather(n, father);
  } else if (n->firstChild || n->clauseListSize >= 1) {
    QbfTreeNode_setFather(n, t->root);
  }
}

void attach(QbfTree *t) {
  QbFormula *f = t->formula;
  for (int v = QbFormula_getVarNumber(f) - 1; v >= 1; v--) {
    char type = static_cast<char>(QbFormula_getQuantifierType(f, v));
    if (type == 'e') {
      place(t, t->nodeForVar[static_cast<std::size_t>(v)]);
    } else if (type == 'a') {
      ListElem *&copies = t->universalCopies[static_cast<std::size_t>(v)];
      while (copies) {
        QbfTreeNode *copy = copies->data.node;
        List_removeElemPointingToNode(&copies, copy);
        place(t, copy);
      }
    }
  }
}

void build(QbfTree *t) {
  QbFormula *f = t->formula;
  const int V = QbFormula_getVarNumber(f);
  t->nodeForVar.growTo(static_cast<std::size_t>(V) + 1, nullptr);
  t->universalCopies.growTo(static_cast<std::size_t>(V) + 1, nullptr);
  t->nodeCount = 0;
  std::size_t existential = 0;
  for (int v = 1; v < V; v++)
    if (QbFormula_getQuantifierType(f, v) == 'e') existential++;
  t->existentialStore = static_cast<QbfTreeNode *>(
      checkedMalloc(sizeof(QbfTreeNode) * (existential ? existential : 1), SITE_NODES, MODULE));
  QbfTreeNode *next = t->existentialStore;
  for (int v = 1; v < V; v++) {
    if (QbFormula_getQuantifierType(f, v) != 'e') continue;
    QbfTreeNode_init(next, t, 'e', v);
    t->nodeForVar[static_cast<std::size_t>(v)] = next++;
    t->nodeCount++;
  }
  t->root = QbfTreeNode_new(t, 'r', -1);
  findFathers(t);
  attach(t);
}

void addPowerOfTwo(CheckedArray<std::uint32_t> &sum, long k) {
  std::size_t word = static_cast<std::size_t>(k / 32);
  if (sum.size() <= word) sum.growTo(word + 1, 0);
  std::uint64_t carry = std::uint64_t{1} << (k % 32);
  for (std::size_t i = word; carry; i++) {
    if (i == sum.size()) sum.push(0);
    std::uint64_t total = sum[i] + carry;
    sum[i] = static_cast<std::uint32_t>(total);
    carry = total >> 32;
  }
}

// The two component counts: the existential nodes with no existential
// ancestor, and the sum over them of 2^(universal nodes above). The walk
// stops at each existential node, as the counts do.
void countComponents(QbfTree *t) {
  CheckedArray<QbfTreeNode *> path(SITE_STACK, MODULE);
  long universalsAbove = 0;
  int components = 0;
  t->numberOfDisjointSubformulas.clear();
  QbfTreeNode_walk(
      t->root, path,
      [&](QbfTreeNode *n) -> QbfTreeNode * {
        if (n->quantifier == 'e') {
          components++;
          addPowerOfTwo(t->numberOfDisjointSubformulas, universalsAbove);
          return nullptr;
        }
        universalsAbove += n->quantifier == 'a';
        return n;
      },
      [&](QbfTreeNode *n) { universalsAbove -= n->quantifier == 'a'; });
  t->numberOfDisconnectableComponents = components;
}

// Depth, leaves, node counts and the universal depths of the existential
// nodes, in one walk (the root at depth 1).
void treeLabeling(QbfTree *t) {
  int depth = 0, branches = 0, existential = 0, universal = 0, maxDelta = 0;
  double deltaSum = 0.0;
  int onPath = 0;      // the node entered and its ancestors
  long universals = 0; // on the path, the node entered excepted
  CheckedArray<QbfTreeNode *> path(SITE_STACK, MODULE);
  path.reserve(static_cast<std::size_t>(t->nodeCount) + 1);
  QbfTreeNode_walk(
      t->root, path,
      [&](const QbfTreeNode *n) {
        depth = std::max(depth, ++onPath);
        branches += n->firstChild == nullptr;
        if (n->quantifier == 'e') {
          existential++;
          deltaSum += static_cast<double>(universals);
          maxDelta = std::max(maxDelta, static_cast<int>(universals));
        } else if (n->quantifier == 'a') {
          universal++;
        }
        universals += n->quantifier == 'a';
      },
      [&](const QbfTreeNode *n) {
        onPath--;
        universals -= n->quantifier == 'a';
      });
  t->depth = depth;
  t->numBranches = branches;
  t->existentialNodes = existential;
  t->universalNodes = universal;
  t->maxUniversalDepth = maxDelta;
  t->averageUniversalDepth = deltaSum / existential;
}

} // namespace

// Chunks grow with the tree (CHUNK_NODES, then each twice the one before, up
// to MAX_CHUNK_BYTES): a large tree lives in a few large blocks, which go into
// huge pages, and the last chunk never asks for much more than the tree still
// needs (under a memory limit, a doubled chunk could fail at half of it).
struct QbfTree::Chunk {
  Chunk *next;
  std::size_t used, capacity;
  QbfTreeNode *nodes() { return reinterpret_cast<QbfTreeNode *>(this + 1); }
};
static_assert(sizeof(QbfTree::Chunk) % alignof(QbfTreeNode) == 0);

QbfTree::QbfTree()
    : nodeForVar(SITE_TABLES, MODULE), universalCopies(SITE_TABLES, MODULE),
      numberOfDisjointSubformulas(SITE_COUNT, MODULE) {}

QbfTree::~QbfTree() {
  std::free(existentialStore);
  while (chunks) {
    Chunk *next = chunks->next;
    std::free(chunks);
    chunks = next;
  }
}

QbfTreeNode *QbfTree_allocNode(QbfTree *t) {
  if (!t->chunks || t->chunks->used == t->chunks->capacity) {
    std::size_t capacity = t->chunks ? 2 * t->chunks->capacity : CHUNK_NODES;
    if (capacity > MAX_CHUNK_NODES) capacity = MAX_CHUNK_NODES;
    auto *chunk = static_cast<QbfTree::Chunk *>(
        checkedMalloc(sizeof(QbfTree::Chunk) + capacity * sizeof(QbfTreeNode), SITE_NODES, MODULE));
    *chunk = QbfTree::Chunk{t->chunks, 0, capacity};
    t->chunks = chunk;
  }
  return &t->chunks->nodes()[t->chunks->used++];
}

QbfTree *QbfTree_new(QbFormula *formula) {
  void *record = checkedMalloc(sizeof(QbfTree), SITE_NEW_TREE, MODULE);
  auto *t = new (record) QbfTree();
  t->formula = formula;
  t->startTime = processorClock();
  build(t);
  countComponents(t);
  t->endTime = processorClock();
  treeLabeling(t);
  return t;
}

void QbfTree_delete(QbfTree *t) {
  if (!t) return;
  // The nodes live in the tree's stores; only the lists of copies still
  // waiting (none after a complete construction) go back to the pool.
  const int V = QbFormula_getVarNumber(t->formula);
  for (int v = V - 1; v >= 1; v--) {
    ListElem *&copies = t->universalCopies[static_cast<std::size_t>(v)];
    if (copies && QbFormula_getQuantifierType(t->formula, v) == 'a') List_delete(&copies);
  }
  t->~QbfTree();
  std::free(t);
}

std::string QbfTree_getNumberOfDisjointSubformulas(QbfTree *t) {
  // Repeated division by 10^9 of a copy of the words, least significant
  // group of nine digits first.
  CheckedArray<std::uint32_t> words(SITE_COUNT, MODULE);
  std::size_t n = t->numberOfDisjointSubformulas.size();
  while (n > 0 && t->numberOfDisjointSubformulas[n - 1] == 0) n--;
  words.growTo(n, 0);
  for (std::size_t i = 0; i < n; i++) words[i] = t->numberOfDisjointSubformulas[i];
  CheckedArray<std::uint32_t> groups(SITE_COUNT, MODULE);
  while (n > 0) {
    std::uint64_t remainder = 0;
    for (std::size_t i = n; i-- > 0;) {
      std::uint64_t value = (remainder << 32) | words[i];
      words[i] = static_cast<std::uint32_t>(value / 1000000000u);
      remainder = value % 1000000000u;
    }
    groups.push(static_cast<std::uint32_t>(remainder));
    while (n > 0 && words[n - 1] == 0) n--;
  }
  if (groups.empty()) return "0";
  std::string text = std::to_string(groups[groups.size() - 1]);
  char group[16];
  for (std::size_t i = groups.size() - 1; i-- > 0;)
    text.append(group, std::snprintf(group, sizeof group, "%09u", groups[i]));
  return text;
}

void QbfTree_printTarnuData(QbfTree *t, const int *alternations) {
  double elapsed = static_cast<double>(t->endTime - t->startTime) * 1000.0 / CLOCKS_PER_SEC;
  int growingTime = elapsed < static_cast<double>(INT_MAX) ? static_cast<int>(elapsed) : INT_MAX;
  FigureTexts figures;
  auto set = [&](Figure figure, int value) { figures[static_cast<std::size_t>(figure)] = std::to_string(value); };
  set(Figure::GrowingTime, growingTime);
  set(Figure::Components, t->numberOfDisconnectableComponents);
  figures[static_cast<std::size_t>(Figure::DComponents)] = QbfTree_getNumberOfDisjointSubformulas(t);
  set(Figure::Depth, t->depth);
  set(Figure::ExistsNodes, t->existentialNodes);
  set(Figure::ForallNodes, t->universalNodes);
  set(Figure::Branches, t->numBranches);
  set(Figure::DeltaMax, t->maxUniversalDepth);
  // printf writes the NaN of 0/0 (no existential node) as "-nan" here.
  char average[32] = "nan";
  if (!std::isnan(t->averageUniversalDepth)) std::snprintf(average, sizeof average, "%.2f", t->averageUniversalDepth);
  figures[static_cast<std::size_t>(Figure::DeltaAvg)] = average;
  OutputTexts_print(TREE_SUMMARY, figures);
  if (alternations) {
    set(Figure::TreeAlternations, *alternations);
    OutputTexts_print(ALTERNATIONS_LINE, figures);
  }
  std::fwrite(TREE_SUMMARY_END.data(), 1, TREE_SUMMARY_END.size(), stdout);
}

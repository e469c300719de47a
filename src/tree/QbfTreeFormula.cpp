// QbfTreeFormula: numbering, prenexing and the QDIMACS and QCIR writers.

#include "tree/QbfTreeFormula.h"

#include <algorithm>
#include <cassert>
#include <new>

#include "base/BufferedOutput.h"
#include "formula/QbFormula.h"
#include "storage/AbnormalExit.h"
#include "storage/CheckedArray.h"
#include "tree/QbfTree.h"

namespace {
constexpr const char *MODULE = "QbfTreeFormula";
constexpr int SITE_LAYOUT = 60;
constexpr int SITE_WALK = 61;
constexpr int SITE_BLOCKS = 62;
constexpr int SITE_WRITER = 63;

// The files' text, in writes of at most 64 KiB.
struct Output : BufferedOutput<Pieces::AtMostFull> {
  explicit Output(FILE *file) : BufferedOutput(file, SITE_WRITER, MODULE) {}
  void gate(long long id) {
    text("g");
    number(id);
  }
};

// The tree's walk (QbfTreeNode_walk) from the root, its path here.
template <typename... Actions> void walk(QbfTreeNode *root, Actions... actions) {
  CheckedArray<QbfTreeNode *> path(SITE_WALK, MODULE);
  QbfTreeNode_walk(root, path, actions...);
}

char other(char quantifier) { return quantifier == 'e' ? 'a' : 'e'; }
} // namespace

struct QbfTreeFormula {
  QbfTreeFormula() : nodeAt(SITE_LAYOUT, MODULE), number(SITE_LAYOUT, MODULE), upBlock(SITE_LAYOUT, MODULE) {}

  QbfTree *tree = nullptr;
  QbFormula *formula = nullptr;
  int firstCode = 0;                  // the code of index 0
  CheckedArray<QbfTreeNode *> nodeAt; // by code - firstCode; null when not in the tree
  CheckedArray<long long> number;     // by code - firstCode: the number written
  CheckedArray<int> upBlock;          // by code - firstCode: the node's block in up
  int blocks = 0;                     // up's blocks
  char outermost = 'e';               // the quantifier of block 0 in up and down
  long long largestInput = 0;         // copies are numbered above it
  long long largestNumber = 0;        // the largest number written
  long long clauses = 0;              // the clauses of the tree

  std::size_t at(const QbfTreeNode *n) const { return static_cast<std::size_t>(n->code - firstCode); }
  char quantifierOfBlock(int block) const { return block % 2 == 0 ? outermost : other(outermost); }
  bool isFree(const QbfTreeNode *n) const {
    return n->quantifier == 'e' && n->variable <= QbFormula_getFreeVarNumber(formula);
  }
  // The first block of a quantifier in up and down.
  int firstBlockOf(char quantifier) const { return quantifier == outermost ? 0 : 1; }
};

namespace {
// The blocks of up from either start; the start with fewer blocks is kept.
void computeUpBlocks(QbfTreeFormula *t) {
  CheckedArray<int> fromExistential(SITE_LAYOUT, MODULE);
  CheckedArray<int> &fromUniversal = t->upBlock;
  fromExistential.growTo(t->nodeAt.size(), 0);
  fromUniversal.growTo(t->nodeAt.size(), 0);
  int blocksE = 0, blocksA = 0;
  walk(QbfTree_getRoot(t->tree), [&](QbfTreeNode *n) {
    if (QbfTreeNode_isRoot(n)) return;
    std::size_t i = t->at(n);
    QbfTreeNode *f = n->father;
    if (QbfTreeNode_isRoot(f)) {
      fromExistential[i] = n->quantifier == 'e' ? 0 : 1;
      fromUniversal[i] = n->quantifier == 'a' ? 0 : 1;
    } else {
      int step = n->quantifier == f->quantifier ? 0 : 1;
      fromExistential[i] = fromExistential[t->at(f)] + step;
      fromUniversal[i] = fromUniversal[t->at(f)] + step;
    }
    blocksE = std::max(blocksE, fromExistential[i] + 1);
    blocksA = std::max(blocksA, fromUniversal[i] + 1);
  });
  if (blocksA < blocksE) {
    t->outermost = 'a';
    t->blocks = blocksA;
  } else {
    for (std::size_t i = 0; i < fromExistential.size(); i++) fromUniversal[i] = fromExistential[i];
    t->outermost = 'e';
    t->blocks = blocksE;
  }
}

// The blocks of down: from the leaves up, each node in the innermost block
// of its quantifier at or before every child's block.
void computeDownBlocks(QbfTreeFormula *t, CheckedArray<int> &block) {
  block.growTo(t->nodeAt.size(), t->blocks - 1);
  walk(
      QbfTree_getRoot(t->tree), [](QbfTreeNode *) {},
      [&](QbfTreeNode *n) {
        if (QbfTreeNode_isRoot(n)) return;
        int &b = block[t->at(n)];
        if (t->quantifierOfBlock(b) != n->quantifier) b--;
        if (t->isFree(n)) b = t->firstBlockOf('e');
        assert(b >= t->upBlock[t->at(n)] && "down never goes above up");
        if (!QbfTreeNode_isRoot(n->father)) {
          int &fatherBlock = block[t->at(n->father)];
          fatherBlock = std::min(fatherBlock, b);
        }
      });
}

// The blocks of keep: the input's prefix, without the variables that have no
// node, same-quantifier neighbours merged.
int computeKeepBlocks(QbfTreeFormula *t, CheckedArray<int> &block, CheckedArray<char> &quantifier) {
  const std::size_t V = static_cast<std::size_t>(QbFormula_getVarNumber(t->formula));
  CheckedArray<int> blockOfVar(SITE_BLOCKS, MODULE);
  blockOfVar.growTo(V, -1);
  for (std::size_t i = 0; i < t->nodeAt.size(); i++)
    if (QbfTreeNode *n = t->nodeAt[i]; n && !QbfTreeNode_isRoot(n))
      blockOfVar[static_cast<std::size_t>(n->variable)] = 0;
  int blocks = 0;
  for (std::size_t v = 1; v < V; v++) {
    if (blockOfVar[v] < 0) continue;
    char type = static_cast<char>(QbFormula_getQuantifierType(t->formula, static_cast<int>(v)));
    if (blocks == 0 || quantifier[static_cast<std::size_t>(blocks) - 1] != type) {
      quantifier.push(type);
      blocks++;
    }
    blockOfVar[v] = blocks - 1;
  }
  block.growTo(t->nodeAt.size(), 0);
  for (std::size_t i = 0; i < t->nodeAt.size(); i++)
    if (QbfTreeNode *n = t->nodeAt[i]; n && !QbfTreeNode_isRoot(n))
      block[i] = blockOfVar[static_cast<std::size_t>(n->variable)];
  return blocks;
}

void writeCopyComments(const QbfTreeFormula *t, Output &out, const char *prefix) {
  for (std::size_t i = 0; i < t->nodeAt.size(); i++) {
    const QbfTreeNode *n = t->nodeAt[i];
    if (!n || n->quantifier != 'a' || t->number[i] <= t->largestInput) continue;
    out.text(prefix);
    out.number(t->number[i]);
    out.text(" of ");
    out.number(QbFormula_litCodeToOriginalLitCode(t->formula, n->variable));
    out.text("\n");
  }
}

// Walks the tree and calls clause(node, clause, number of each literal) for
// every clause at the node (in pre-order when enter, else in post-order),
// with the numbers of the universal copies on the node's path.
class ClauseNumbers {
public:
  explicit ClauseNumbers(QbfTreeFormula *t) : t_(t), current_(SITE_WRITER, MODULE) {
    current_.growTo(static_cast<std::size_t>(QbFormula_getVarNumber(t->formula)), 0);
  }
  void enter(const QbfTreeNode *n) {
    if (n->quantifier == 'a') current_[static_cast<std::size_t>(n->variable)] = t_->number[t_->at(n)];
  }
  long long literal(int lit) const {
    int v = varOfLit(lit);
    long long number = QbFormula_getQuantifierType(t_->formula, v) == 'a'
                           ? current_[static_cast<std::size_t>(v)]
                           : QbFormula_litCodeToOriginalLitCode(t_->formula, v);
    return lit < 0 ? -number : number;
  }

private:
  QbfTreeFormula *t_;
  CheckedArray<long long> current_; // by variable code: the copy on the path
};

// The nodes of the tree by block, each block in node-code order (a counting
// sort): block b holds byBlock[start[b]] to byBlock[start[b + 1] - 1].
void sortByBlock(const QbfTreeFormula *t, const CheckedArray<int> &block, int blocks, CheckedArray<std::size_t> &start,
                 CheckedArray<std::size_t> &byBlock) {
  start.growTo(static_cast<std::size_t>(blocks) + 1, 0);
  for (std::size_t i = 0; i < t->nodeAt.size(); i++)
    if (t->nodeAt[i] && !QbfTreeNode_isRoot(t->nodeAt[i])) start[static_cast<std::size_t>(block[i]) + 1]++;
  for (std::size_t b = 1; b < start.size(); b++) start[b] += start[b - 1];
  byBlock.growUninitialized(start[start.size() - 1]);
  CheckedArray<std::size_t> next(SITE_BLOCKS, MODULE);
  next.growTo(start.size(), 0);
  for (std::size_t b = 0; b < start.size(); b++) next[b] = start[b];
  for (std::size_t i = 0; i < t->nodeAt.size(); i++)
    if (t->nodeAt[i] && !QbfTreeNode_isRoot(t->nodeAt[i])) byBlock[next[static_cast<std::size_t>(block[i])]++] = i;
}

// The clauses of the QDIMACS file, in the order of the walk.
void writeClauses(QbfTreeFormula *t, Output &out) {
  ClauseNumbers numbers(t);
  walk(QbfTree_getRoot(t->tree), [&](QbfTreeNode *n) {
    numbers.enter(n);
    for (QbfClause *c = n->clauses; c; c = QbfClause_getNextAtQuantifier(c)) {
      for (int k = 0; k < c->size; k++) {
        out.number(numbers.literal(QbfClause_getLiteral(c, k)));
        out.text(" ");
      }
      out.text("0\n");
    }
  });
}

// The nodes one QCIR quantifier gate binds, its gate chain: nodes of one
// quantifier, each the only child of the one before. Clauses do not end it:
// the gate's "and" takes the clauses of every node of the chain, as a clause
// mentions no variable below its node, so that binding those over it changes
// nothing and a chain's gates are as few as can be. The DOT writer's
// octagons (QbfTreeViz.cpp) follow another rule, as their files must stay as
// they are: an octagon ends at a node with clauses.
//
// A node that does not continue its father's gate chain: its father is the
// root, has another quantifier, or has more children.
bool startsGateChain(const QbfTreeNode *n) {
  const QbfTreeNode *f = n->father;
  return QbfTreeNode_isRoot(f) || f->quantifier != n->quantifier || f->firstChild != n || n->nextBrother;
}
const QbfTreeNode *nextInGateChain(const QbfTreeNode *n) {
  const QbfTreeNode *c = n->firstChild;
  return c && !c->nextBrother && c->quantifier == n->quantifier ? c : nullptr;
}

// The gates of the QCIR file, written as the walk leaves the nodes: the
// gates of a gate chain once its children's are written, the root's (g0)
// last.
class QcirGates {
public:
  QcirGates(QbfTreeFormula *t, Output &out) : t_(t), out_(out), numbers_(t), gateOf_(SITE_WRITER, MODULE) {
    gateOf_.growTo(t->nodeAt.size(), 0);
  }
  void enter(const QbfTreeNode *n) { numbers_.enter(n); }
  void leave(const QbfTreeNode *n) {
    if (QbfTreeNode_isRoot(n)) {
      out_.text("g0 = and(");
      inputsFromChildren(n, true);
      out_.text(")\n");
    } else if (startsGateChain(n)) {
      writeChain(n);
    }
  }

private:
  // An "or" per clause of the chain, their "and" with the children's gates,
  // and the quantifier gate over it, which stands for the chain.
  void writeChain(const QbfTreeNode *n) {
    const QbfTreeNode *last = n;
    long long firstClause = next_;
    for (const QbfTreeNode *m = n; m; m = nextInGateChain(m)) {
      last = m;
      for (QbfClause *c = m->clauses; c; c = QbfClause_getNextAtQuantifier(c)) writeClause(c);
    }
    long long body = next_++;
    out_.gate(body);
    out_.text(" = and(");
    for (long long g = firstClause; g < body; g++) {
      if (g > firstClause) out_.text(", ");
      out_.gate(g);
    }
    inputsFromChildren(last, body == firstClause);
    out_.text(")\n");
    long long scope = next_++;
    out_.gate(scope);
    out_.text(n->quantifier == 'e' ? " = exists(" : " = forall(");
    for (const QbfTreeNode *m = n; m; m = nextInGateChain(m)) {
      if (m != n) out_.text(", ");
      out_.number(t_->number[t_->at(m)]);
    }
    out_.text("; ");
    out_.gate(body);
    out_.text(")\n");
    gateOf_[t_->at(n)] = scope;
  }
  void writeClause(const QbfClause *c) {
    out_.gate(next_++);
    out_.text(" = or(");
    for (int k = 0; k < c->size; k++) {
      if (k) out_.text(", ");
      out_.number(numbers_.literal(QbfClause_getLiteral(c, k)));
    }
    out_.text(")\n");
  }
  void inputsFromChildren(const QbfTreeNode *n, bool first) {
    for (const QbfTreeNode *c = n->firstChild; c; c = c->nextBrother, first = false) {
      out_.text(first ? "" : ", ");
      out_.gate(gateOf_[t_->at(c)]);
    }
  }

  QbfTreeFormula *t_;
  Output &out_;
  ClauseNumbers numbers_;
  CheckedArray<long long> gateOf_; // a gate chain's gate, by its first node
  long long next_ = 1;             // the next gate's number
};
} // namespace

QbfTreeFormula *QbfTreeFormula_new(QbfTree *tree) {
  void *record = checkedMalloc(sizeof(QbfTreeFormula), SITE_LAYOUT, MODULE);
  auto *t = new (record) QbfTreeFormula();
  t->tree = tree;
  t->formula = QbfTree_getQbFormula(tree);
  QbfTreeNode *root = QbfTree_getRoot(tree);
  int first = root->code, last = root->code;
  walk(root, [&](QbfTreeNode *n) {
    first = std::min(first, n->code);
    last = std::max(last, n->code);
  });
  t->firstCode = first;
  t->nodeAt.growTo(static_cast<std::size_t>(last - first) + 1, nullptr);
  walk(root, [&](QbfTreeNode *n) { t->nodeAt[t->at(n)] = n; });

  // Numbers in node-code order: a universal's first copy keeps its number.
  const std::size_t V = static_cast<std::size_t>(QbFormula_getVarNumber(t->formula));
  CheckedArray<char> numbered(SITE_LAYOUT, MODULE);
  numbered.growTo(V, 0);
  t->largestInput = t->largestNumber = QbFormula_getLargestInputVar(t->formula);
  t->number.growTo(t->nodeAt.size(), 0);
  for (std::size_t i = 0; i < t->nodeAt.size(); i++) {
    QbfTreeNode *n = t->nodeAt[i];
    if (!n || QbfTreeNode_isRoot(n)) continue;
    t->clauses += n->clauseListSize;
    std::size_t v = static_cast<std::size_t>(n->variable);
    if (n->quantifier == 'a' && numbered[v])
      t->number[i] = ++t->largestNumber;
    else
      t->number[i] = QbFormula_litCodeToOriginalLitCode(t->formula, n->variable);
    numbered[v] = 1;
  }
  computeUpBlocks(t);
  return t;
}

void QbfTreeFormula_delete(QbfTreeFormula *t) {
  if (!t) return;
  t->~QbfTreeFormula();
  std::free(t);
}

int QbfTreeFormula_getAlternations(const QbfTreeFormula *t) { return t->blocks - 1; }
long long QbfTreeFormula_getLargestNumber(const QbfTreeFormula *t) { return t->largestNumber; }

void QbfTreeFormula_writeQdimacs(QbfTreeFormula *t, FILE *file, Prenexing strategy) {
  CheckedArray<int> ownBlocks(SITE_BLOCKS, MODULE);
  CheckedArray<char> keepQuantifiers(SITE_BLOCKS, MODULE);
  const CheckedArray<int> *block = &t->upBlock;
  int blocks = t->blocks;
  if (strategy == Prenexing::Down) {
    computeDownBlocks(t, ownBlocks);
    block = &ownBlocks;
  } else if (strategy == Prenexing::Keep) {
    blocks = computeKeepBlocks(t, ownBlocks, keepQuantifiers);
    block = &ownBlocks;
  }
  CheckedArray<std::size_t> start(SITE_BLOCKS, MODULE);
  CheckedArray<std::size_t> byBlock(SITE_BLOCKS, MODULE);
  sortByBlock(t, *block, blocks, start, byBlock);

  Output out(file);
  writeCopyComments(t, out, "c copy ");
  out.text("p cnf ");
  out.number(t->largestNumber);
  out.text(" ");
  out.number(t->clauses);
  out.text("\n");
  for (std::size_t b = 0; b + 1 < start.size(); b++) {
    if (start[b] == start[b + 1]) continue;
    char q = strategy == Prenexing::Keep ? keepQuantifiers[b] : t->quantifierOfBlock(static_cast<int>(b));
    out.text(q == 'e' ? "e" : "a");
    for (std::size_t k = start[b]; k < start[b + 1]; k++) {
      assert(t->nodeAt[byBlock[k]]->quantifier == q && "a block holds nodes of its quantifier only");
      out.text(" ");
      out.number(t->number[byBlock[k]]);
    }
    out.text(" 0\n");
  }
  writeClauses(t, out);
}

void QbfTreeFormula_writeQcir(QbfTreeFormula *t, FILE *file) {
  Output out(file);
  out.text("#QCIR-G14\n");
  writeCopyComments(t, out, "# copy ");
  out.text("output(g0)\n");
  QcirGates gates(t, out);
  walk(
      QbfTree_getRoot(t->tree), [&](QbfTreeNode *n) { gates.enter(n); }, [&](QbfTreeNode *n) { gates.leave(n); });
}

void QbfTreeFormula_writeConstantQdimacs(FILE *file, bool value) {
  std::fputs(value ? "p cnf 0 0\n" : "p cnf 0 1\n0\n", file);
}

void QbfTreeFormula_writeConstantQcir(FILE *file, bool value) {
  std::fputs(value ? "#QCIR-G14\noutput(g0)\ng0 = and()\n" : "#QCIR-G14\noutput(g0)\ng0 = or()\n", file);
}

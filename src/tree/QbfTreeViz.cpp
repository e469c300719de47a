// QbfTree DOT output. The root is "and"; every quantifier node a filled
// circle labelled with its letter and input number; the clauses of a node one
// more node: a house with their count, or with -clauses a record listing
// them. By default a chain of same-quantifier nodes (each the only child of
// the one before, none but the last with clauses) is drawn as one octagon
// whose labels fill rows shaped like a disc. The writer walks the tree with
// QbfTreeNode_walk and writes every statement in the order of the recursive
// definition: a node's statement, its children's subtrees, its clause node,
// its edges.

#include <cassert>
#include <cmath>
#include <cstdio>

#include "base/BufferedOutput.h"
#include "formula/QbFormula.h"
#include "storage/CheckedArray.h"
#include "tree/QbfTree.h"

namespace {
constexpr const char *MODULE = "QbfTree";
constexpr int SITE_WRITER = 401;
constexpr std::size_t LABEL_PIECE = 16000;
constexpr const char *UNIVERSAL_COLOUR = "#FF8877";
constexpr const char *EXISTENTIAL_COLOUR = "#DDFFBB";

class DotWriter {
public:
  DotWriter(FILE *file, QbFormula *formula, bool detailed)
      : formula_(formula), detailed_(detailed), out_(file, SITE_WRITER, MODULE), label_(SITE_WRITER, MODULE) {}

  void text(const char *s) { out_.text(s); }

  int input(const QbfTreeNode *n) { return QbFormula_litCodeToOriginalLitCode(formula_, n->variable); }
  static const char *colour(const QbfTreeNode *n) {
    return n->quantifier == 'a' ? UNIVERSAL_COLOUR : EXISTENTIAL_COLOUR;
  }

  void circle(const QbfTreeNode *n) {
    if (QbfTreeNode_isRoot(n)) {
      out_.text("root [label = \"and\"];\n");
      return statementDone();
    }
    out_.character('n');
    out_.number(n->code);
    out_.text(" [label = \"");
    out_.character(n->quantifier);
    out_.number(input(n));
    out_.text("\" shape=\"circle\" style=\"filled\" color=\"");
    out_.text(colour(n));
    out_.text("\"];\n");
    statementDone();
  }

  // One statement for the octagon chain of length L starting at n.
  void octagon(const QbfTreeNode *n, int length) {
    out_.character('n');
    out_.number(n->code);
    out_.text(" [label = \"");
    label_.clear();
    label_.character(n->quantifier);
    label_.number(input(n));
    const double radius = std::sqrt(length / 3.1415926535);
    const double radius2 = radius * radius;
    double y = radius, rowEnd = 0.0;
    int i = 1;
    for (const QbfTreeNode *k = n->firstChild; i < length; k = k->firstChild) {
      i++;
      label_.character(' ');
      label_.number(input(k));
      if (i >= rowEnd) {
        label_.text("\\n", 2);
        y -= 1.0;
        double chord = radius2 - y * y;
        rowEnd += 2.0 * std::sqrt(chord > 0.0 ? chord : 0.0);
      }
    }
    emitLabel();
    out_.text("\" shape=\"octagon\" style=\"filled\" color=\"");
    out_.text(colour(n));
    out_.text("\"];\n");
    statementDone();
  }

  // The clause node of `owner` (the chain's last node), named after `name`.
  void clauses(const QbfTreeNode *name, const QbfTreeNode *owner) {
    if (QbfTreeNode_isRoot(owner) || owner->clauseListSize <= 0) return;
    out_.character('c');
    out_.number(name->code);
    if (!detailed_) {
      out_.text(" [label = \"");
      out_.number(owner->clauseListSize);
      out_.text("\" shape =\"house\" style=\"filled\" bgcolor=\"red\"];\n");
      return statementDone();
    }
    out_.text(" [shape=\"record\" label = \"");
    label_.clear();
    label_.character('{');
    for (const QbfClause *c = owner->clauses; c; c = QbfClause_getNextAtQuantifier(c)) {
      char *start = label_.room(QbfClause_printedBound(c) + 1);
      char *end = start;
      QbfClause_appendPrintedVersion(formula_, c, end);
      if (QbfClause_getNextAtQuantifier(c)) *end++ = '|';
      label_.advance(static_cast<std::size_t>(end - start));
    }
    label_.character('}');
    emitLabel();
    out_.text("\" ];\n");
    statementDone();
  }

  void edges(const QbfTreeNode *name, const QbfTreeNode *owner) {
    bool hasClauses = !QbfTreeNode_isRoot(owner) && owner->clauseListSize > 0;
    if (!owner->firstChild && !hasClauses) return;
    if (QbfTreeNode_isRoot(name)) {
      out_.text("root -> { ");
    } else {
      out_.character('n');
      out_.number(name->code);
      out_.text(" -> { ");
    }
    for (const QbfTreeNode *child = owner->firstChild; child; child = child->nextBrother) {
      out_.character('n');
      out_.number(child->code);
      out_.character(' ');
    }
    if (hasClauses) {
      out_.character('c');
      out_.number(name->code);
      out_.character(' ');
    }
    out_.text("}\n");
    statementDone();
  }

private:
  // Graphviz reads no quoted string longer than 16384 bytes. A longer label
  // (the clauses of a node, the variables of a long chain) is written whole,
  // as consecutive quoted pieces joined by '+', which DOT concatenates; a
  // piece never ends inside a backslash escape.
  void emitLabel() {
    const char *p = label_.data();
    std::size_t left = label_.size();
    while (left > LABEL_PIECE) {
      std::size_t piece = LABEL_PIECE;
      if (p[piece - 1] == '\\') piece--;
      out_.text(p, piece);
      out_.text("\" + \"");
      p += piece;
      left -= piece;
    }
    out_.text(p, left);
  }

  // The statements go out whole, in writes of at least FULL bytes but for
  // the last.
  void statementDone() { out_.statementDone(); }

  QbFormula *formula_;
  bool detailed_;
  BufferedOutput<Pieces::WholeStatements> out_;
  TextBuffer label_; // a label being composed
};

// The nodes one octagon stands for, its octagon chain: nodes of one
// quantifier, each the only child of the one before, none but the last with
// clauses, as an octagon has one clause node (named after the first node,
// holding the last one's clauses). The QCIR writer's chains
// (QbfTreeFormula.cpp) go on past clauses, which one gate can hold wherever
// they sit; both files must stay as they are, so the two rules stay apart.
bool continuesOctagonChain(const QbfTreeNode *last, const QbfTreeNode *k) {
  return k && !k->nextBrother && last->clauseListSize <= 0 && k->quantifier == last->quantifier;
}

// Length of the octagon chain that starts at n, and its last node.
int octagonChainFrom(const QbfTreeNode *n, const QbfTreeNode *&last) {
  int length = 1;
  for (last = n; continuesOctagonChain(last, last->firstChild); last = last->firstChild) length++;
  return length;
}

// Every node's statements; with compressed, an octagon chain's statements
// are named after its first node and the nodes after it are skipped.
void writeTree(DotWriter &w, QbfTreeNode *root, bool compressed) {
  CheckedArray<QbfTreeNode *> path(SITE_WRITER, MODULE);
  // The node whose children were walked last, and so whose clauses and edges
  // follow when a node is left: the last node of the octagon chain entered
  // if it has no child, else the father of the child left just before.
  const QbfTreeNode *childrenOf = nullptr;
  // The length of the octagon chain n stands for, and its last node.
  auto chainOf = [compressed](const QbfTreeNode *n, const QbfTreeNode *&last) {
    last = n;
    return compressed && !QbfTreeNode_isRoot(n) ? octagonChainFrom(n, last) : 1;
  };
  QbfTreeNode_walk(
      root, path,
      [&](const QbfTreeNode *n) {
        const QbfTreeNode *last;
        int length = chainOf(n, last);
        if (length == 1)
          w.circle(n);
        else
          w.octagon(n, length);
        return childrenOf = last;
      },
      [&](const QbfTreeNode *n) {
        [[maybe_unused]] const QbfTreeNode *last;
        assert((chainOf(n, last), last == childrenOf) && "the chain's last node was found again");
        w.clauses(n, childrenOf);
        w.edges(n, childrenOf);
        childrenOf = n->father;
      });
}
} // namespace

void QbfTree_printVizFormat(QbfTree *tree, FILE *file, bool detailed, bool compressed) {
  DotWriter writer(file, QbfTree_getQbFormula(tree), detailed);
  writer.text("digraph G0 {\n");
  writeTree(writer, QbfTree_getRoot(tree), compressed);
  writer.text("}\n");
}

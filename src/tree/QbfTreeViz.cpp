// QbfTree DOT output. The root is "and"; every quantifier node a filled
// circle labelled with its letter and input number; the clauses of a node one
// more node: a house with their count, or with -clauses a record listing
// them. By default a chain of same-quantifier nodes (each the only child of
// the one before, none but the last with clauses) is drawn as one octagon
// whose labels fill rows shaped like a disc. Both writers walk with an
// explicit stack and write every statement in the order of the recursive
// definition: a node's statement, its children's subtrees, its clause node,
// its edges.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "formula/QbFormula.h"
#include "run/IOutils.h"
#include "run/Options.h"
#include "storage/CheckedArray.h"
#include "tree/QbfTree.h"

namespace {
constexpr const char *MODULE = "QbfTree";
constexpr int SITE_WRITER = 401;
constexpr std::size_t BUFFER_BYTES = std::size_t{64} << 10;
constexpr const char *UNIVERSAL_COLOUR = "#FF8877";
constexpr const char *EXISTENTIAL_COLOUR = "#DDFFBB";

class DotWriter {
public:
  DotWriter(FILE *file, QbFormula *formula, bool detailed)
      : file_(file), formula_(formula), detailed_(detailed), buffer_(SITE_WRITER, MODULE) {
    buffer_.growUninitialized(BUFFER_BYTES);
    out_ = buffer_.data();
  }
  ~DotWriter() { flush(); }

  void text(const char *s) {
    std::size_t n = std::strlen(s);
    room(n);
    std::memcpy(out_, s, n);
    out_ += n;
  }
  void number(int value) {
    room(12);
    char digits[12];
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (value < 0) *out_++ = '-';
    while (n) *out_++ = digits[--n];
  }
  void character(char ch) {
    room(1);
    *out_++ = ch;
  }

  int input(const QbfTreeNode *n) { return QbFormula_litCodeToOriginalLitCode(formula_, n->variable); }
  static const char *colour(const QbfTreeNode *n) { return n->quantifier == 'a' ? UNIVERSAL_COLOUR : EXISTENTIAL_COLOUR; }
  static bool isRoot(const QbfTreeNode *n) { return n->variable <= 0; }

  void circle(const QbfTreeNode *n) {
    if (isRoot(n)) return text("root [label = \"and\"];\n");
    text("n");
    number(n->code);
    text(" [label = \"");
    character(n->quantifier);
    number(input(n));
    text("\" shape=\"circle\" style=\"filled\" color=\"");
    text(colour(n));
    text("\"];\n");
  }

  // One statement for the chain of length L starting at n.
  void octagon(const QbfTreeNode *n, int length) {
    text("n");
    number(n->code);
    text(" [label = \"");
    character(n->quantifier);
    number(input(n));
    const double radius = std::sqrt(length / 3.1415926535);
    const double radius2 = radius * radius;
    double y = radius, rowEnd = 0.0;
    int i = 1;
    for (const QbfTreeNode *k = n->firstChild; i < length; k = k->firstChild) {
      i++;
      character(' ');
      number(input(k));
      if (i >= rowEnd) {
        text("\\n");
        y -= 1.0;
        double chord = radius2 - y * y;
        rowEnd += 2.0 * std::sqrt(chord > 0.0 ? chord : 0.0);
      }
    }
    text("\" shape=\"octagon\" style=\"filled\" color=\"");
    text(colour(n));
    text("\"];\n");
  }

  // The clause node of `owner` (the chain's last node), named after `name`.
  void clauses(const QbfTreeNode *name, const QbfTreeNode *owner) {
    if (isRoot(owner) || owner->clauseListSize <= 0) return;
    if (!detailed_) {
      text("c");
      number(name->code);
      text(" [label = \"");
      number(owner->clauseListSize);
      text("\" shape =\"house\" style=\"filled\" bgcolor=\"red\"];\n");
      return;
    }
    text("c");
    number(name->code);
    text(" [shape=\"record\" label = \"{");
    for (const QbfClause *c = owner->clauses; c; c = QbfClause_getNextAtQuantifier(c)) {
      room(QbfClause_printedBound(c) + 1);
      QbfClause_appendPrintedVersion(formula_, c, out_);
      if (QbfClause_getNextAtQuantifier(c)) *out_++ = '|';
    }
    text("}\" ];\n");
  }

  void edges(const QbfTreeNode *name, const QbfTreeNode *owner) {
    bool hasClauses = !isRoot(owner) && owner->clauseListSize > 0;
    if (!owner->firstChild && !hasClauses) return;
    if (isRoot(name)) {
      text("root -> { ");
    } else {
      text("n");
      number(name->code);
      text(" -> { ");
    }
    for (const QbfTreeNode *child = owner->firstChild; child; child = child->nextBrother) {
      text("n");
      number(child->code);
      character(' ');
    }
    if (hasClauses) {
      text("c");
      number(name->code);
      character(' ');
    }
    text("}\n");
  }

  void flush() {
    std::size_t n = static_cast<std::size_t>(out_ - buffer_.data());
    if (n) std::fwrite(buffer_.data(), 1, n, file_);
    out_ = buffer_.data();
  }

private:
  void room(std::size_t n) {
    std::size_t used = static_cast<std::size_t>(out_ - buffer_.data());
    if (buffer_.size() - used >= n) return;
    flush();
    if (buffer_.size() < n) buffer_.growUninitialized(n);
    out_ = buffer_.data();
  }

  FILE *file_;
  QbFormula *formula_;
  bool detailed_;
  CheckedArray<char> buffer_;
  char *out_;
};

// Length of the chain of same-quantifier nodes that starts at n, and its
// last node.
int chainFrom(const QbfTreeNode *n, const QbfTreeNode *&last) {
  int length = 1;
  last = n;
  for (;;) {
    const QbfTreeNode *k = last->firstChild;
    if (!k || k->nextBrother || last->clauseListSize > 0 || k->quantifier != n->quantifier) break;
    last = k;
    length++;
  }
  return length;
}

void writeTree(DotWriter &w, QbfTreeNode *root, bool compressed) {
  struct Frame {
    const QbfTreeNode *name; // the node (or first node of a chain) naming the statements
    const QbfTreeNode *last; // whose children and clauses follow
    const QbfTreeNode *nextChild;
  };
  CheckedArray<Frame> stack(SITE_WRITER, MODULE);
  auto open = [&](const QbfTreeNode *n) {
    const QbfTreeNode *last = n;
    int length = 1;
    if (compressed && !DotWriter::isRoot(n)) length = chainFrom(n, last);
    if (length == 1)
      w.circle(n);
    else
      w.octagon(n, length);
    stack.push(Frame{n, last, last->firstChild});
  };
  open(root);
  while (!stack.empty()) {
    Frame &top = stack.back();
    if (const QbfTreeNode *child = top.nextChild) {
      top.nextChild = child->nextBrother;
      open(child);
      continue;
    }
    Frame done = top;
    stack.pop();
    w.clauses(done.name, done.last);
    w.edges(done.name, done.last);
  }
}
} // namespace

int QbfTree_printVizFormat(QbfTree *tree, int resetCounter) {
  const char *reason = nullptr;
  FILE *file = IOutils_vizFileForQbfTree(tree, resetCounter, &reason);
  if (!file) {
    std::printf("[DOT FILE NOT WRITTEN: %s]", reason);
    std::fflush(stdout);
    return -1;
  }
  {
    DotWriter writer(file, QbfTree_getQbFormula(tree), Options_getDumpDetailedTreeEnabled() != 0);
    writer.text("digraph G0 {\n");
    writeTree(writer, QbfTree_getRoot(tree), Options_getCompressedTarnuEnabled() != 0);
    writer.text("}\n");
  }
  if (IOutils_closeVizFileForQbfTree(&reason) != 0) {
    std::printf("[DOT FILE NOT WRITTEN: %s]", reason);
    std::fflush(stdout);
    return -1;
  }
  return 0;
}

// Seeded generator of large QDIMACS files for the benchmark suite.
//
// The same arguments and seed always give the same bytes: the random source
// is a fixed 64-bit generator (splitmix64 seeding xoshiro256**) and every
// bounded draw uses the same multiply-shift reduction, so nothing depends on
// the standard library's distributions. Output goes through one large buffer
// written with write(2); the 200 MB file takes a few seconds.
//
// Shapes:
//   window  N variables split into B alternating quantifier blocks, the
//           innermost (last) block existential. With -r 0 the blocks are
//           contiguous ranges of variable numbers; with -r S (default 5) the
//           numbers are dealt to the blocks in stripes of S consecutive
//           variables, so a window of 50 numbers meets all 10 blocks and the
//           clauses really mix quantifier levels. Each of the M clauses has K
//           literals (with -k KMIN-KMAX, a number drawn uniformly in that range
//           for each clause) within a window of W consecutive variable numbers.
//           Forall reduction must remove nothing (a clause left with only
//           universal literals would end the run at once), so every clause is
//           built around a "pivot": an existential variable drawn at random;
//           the other K-1 variables come from the W numbers just before it,
//           and a universal one is taken only when its block is outer to the
//           pivot's. No universal literal is then inner to the clause's
//           innermost existential literal. Each clause also has at least two
//           existential literals, so removing universal literals never yields
//           a unit clause: "-pre" (unit propagation, pure literals) does its
//           work instead of meeting an early contradiction. With --free F,
//           about a fraction F of the variables (a seeded hash decides which)
//           is left out of the prefix; readers treat them as outermost
//           existential variables, which keeps both properties; pivots are
//           drawn among the variables kept in the prefix.
//   chain   N existential variables in one block, clauses (x_i | x_{i+1}).
//   copies  G groups; group i has 20 universal variables u_i,1..u_i,20 and one
//           existential e_i. One outer universal block holds every u, one
//           inner existential block every e, so each u_i,j is outer to e_i.
//           Group i gets 5 clauses: e_i (random sign) with 4 of its own
//           universals (random signs), the 20 universals shuffled and split in
//           5 groups of 4. Groups share no variable: many independent copies.
//   tiny    COUNT small window-shape files (10 to 60 variables, 1 to 4 blocks)
//           written as DIR/tNNNN.qdimacs.
//   middir  COUNT medium window-shape files written as DIR/mNNNN.qdimacs: 10
//           blocks in stripes of 5, 4 clauses of 3 literals per variable,
//           window 50, and a variable count drawn log-uniformly between
//           15,000 and 300,000, so the files spread evenly over a factor of 20
//           in run time (the sum stays near COUNT times a third of the largest
//           file's time). The draw goes through pow, whose last bit could only
//           move a count sitting at an exact half.
//
// Usage:
//   gen window -n N -b B -m M [-k K|KMIN-KMAX] [-w W] [-r STRIPE] [--free F] [-s SEED] -o FILE
//   gen chain  -n N [-s SEED] -o FILE
//   gen copies -g G [-s SEED] -o FILE
//   gen tiny   -c COUNT [-s SEED] -o DIR
//   gen middir -c COUNT [-s SEED] -o DIR

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "gen: %s\n", what);
  std::exit(2);
}

std::uint64_t splitmix64(std::uint64_t &state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

class Rng {
public:
  explicit Rng(std::uint64_t seed) {
    for (auto &word : s_) word = splitmix64(seed);
  }
  std::uint64_t next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, bound), bound > 0 (multiply-shift; the tiny bias is irrelevant here).
  std::uint32_t below(std::uint32_t bound) {
    return static_cast<std::uint32_t>(((next() >> 32) * static_cast<std::uint64_t>(bound)) >> 32);
  }
  bool coin() { return (next() >> 63) != 0; }

private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4];
};

// Buffered writer on a file descriptor.
class Out {
public:
  explicit Out(const std::string &path) : buf_(BUF_SIZE) {
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) die(("cannot create " + path + ": " + std::strerror(errno)).c_str());
  }
  ~Out() {
    flush();
    if (close(fd_) != 0) die("close failed");
  }
  void ch(char c) {
    if (used_ == buf_.size()) flush();
    buf_[used_++] = c;
  }
  void str(const char *s) {
    while (*s) ch(*s++);
  }
  void num(long long v) {
    if (buf_.size() - used_ < 24) flush();
    char tmp[24];
    int n = 0;
    bool neg = v < 0;
    unsigned long long u = neg ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
      tmp[n++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (neg) buf_[used_++] = '-';
    while (n) buf_[used_++] = tmp[--n];
  }
  void lit(long long var, bool negative) {
    num(negative ? -var : var);
    ch(' ');
  }

private:
  static constexpr std::size_t BUF_SIZE = std::size_t{8} << 20;
  void flush() {
    std::size_t off = 0;
    while (off < used_) {
      ssize_t n = write(fd_, buf_.data() + off, used_ - off);
      if (n <= 0) die("write failed");
      off += static_cast<std::size_t>(n);
    }
    used_ = 0;
  }
  int fd_;
  std::vector<char> buf_;
  std::size_t used_ = 0;
};

struct Args {
  std::string shape;
  long long n = 0, blocks = 10, clauses = 0, kmin = 3, kmax = 3, window = 50, stripe = 5, groups = 0, count = 0;
  double freeFraction = 0.0;
  std::uint64_t seed = 1;
  std::string out;
};

long long toInt(const char *s) {
  char *end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 10);
  if (errno || !end || *end || v < 0) die("bad number argument");
  return v;
}

Args parse(int argc, char **argv) {
  if (argc < 2) die("usage: gen (window|chain|copies|tiny|middir) OPTIONS -o OUT (see gen.cpp)");
  Args a;
  a.shape = argv[1];
  for (int i = 2; i < argc; i++) {
    std::string opt = argv[i];
    if (i + 1 >= argc) die("option without value");
    const char *val = argv[++i];
    if (opt == "-n")
      a.n = toInt(val);
    else if (opt == "-b")
      a.blocks = toInt(val);
    else if (opt == "-m")
      a.clauses = toInt(val);
    else if (opt == "-k") {
      const char *dash = std::strchr(val, '-');
      a.kmin = toInt(dash ? std::string(val, dash).c_str() : val);
      a.kmax = dash ? toInt(dash + 1) : a.kmin;
    } else if (opt == "-w")
      a.window = toInt(val);
    else if (opt == "-r")
      a.stripe = toInt(val);
    else if (opt == "-g")
      a.groups = toInt(val);
    else if (opt == "-c")
      a.count = toInt(val);
    else if (opt == "-s")
      a.seed = static_cast<std::uint64_t>(toInt(val));
    else if (opt == "--free")
      a.freeFraction = std::atof(val);
    else if (opt == "-o")
      a.out = val;
    else
      die(("unknown option " + opt).c_str());
  }
  if (a.out.empty()) die("missing -o");
  return a;
}

// Whether variable v is left out of the prefix (seeded hash, independent of the clause stream).
bool leftOut(std::uint64_t seed, long long v, double fraction) {
  if (fraction <= 0.0) return false;
  std::uint64_t state = seed * 0x2545f4914f6cdd1dULL ^ static_cast<std::uint64_t>(v);
  std::uint64_t h = splitmix64(state);
  return static_cast<double>(h >> 11) * 0x1.0p-53 < fraction;
}

void window(Out &out, long long n, long long blocks, long long m, long long kmin, long long kmax, long long w,
            long long stripe, double freeFraction, std::uint64_t seed) {
  if (n < 1 || blocks < 1 || blocks > n || kmin < 2 || kmax < kmin || w < kmax - 1 || stripe < 0 || n > 0x7fffffffLL)
    die("bad window parameters");
  Rng rng(seed);
  // Block of each variable: contiguous ranges (stripe 0), or stripes of `stripe`
  // consecutive variables dealt to the blocks in turn.
  auto isExistentialBlock = [&](long long b) { return (blocks - 1 - b) % 2 == 0; }; // innermost block existential
  // kind[v]: 0 universal, 1 existential, 2 left out of the prefix (free, hence existential).
  std::vector<unsigned char> kind(static_cast<std::size_t>(n) + 1, 0);
  std::vector<int> block(static_cast<std::size_t>(n) + 1, 0);
  std::vector<std::vector<int>> members(static_cast<std::size_t>(blocks));
  std::vector<int> candidates; // kept existential variables, the possible pivots
  long long range = 0;         // current block of the contiguous layout
  for (long long v = 1; v <= n; v++) {
    while (v > (range + 1) * n / blocks) range++;
    long long b = stripe == 0 ? range : ((v - 1) / stripe) % blocks;
    block[static_cast<std::size_t>(v)] = static_cast<int>(b);
    if (leftOut(seed, v, freeFraction)) {
      kind[static_cast<std::size_t>(v)] = 2;
      continue;
    }
    bool existential = isExistentialBlock(b);
    kind[static_cast<std::size_t>(v)] = existential ? 1 : 0;
    members[static_cast<std::size_t>(b)].push_back(static_cast<int>(v));
    if (existential && v > 1) candidates.push_back(static_cast<int>(v));
  }
  out.str("c window shape: ");
  out.num(n);
  out.str(" variables, ");
  out.num(blocks);
  out.str(" blocks (stripe ");
  out.num(stripe);
  out.str("), ");
  out.num(m);
  out.str(" clauses of ");
  out.num(kmin);
  if (kmax > kmin) {
    out.str(" to ");
    out.num(kmax);
  }
  out.str(" literals, window ");
  out.num(w);
  out.str(", seed ");
  out.num(static_cast<long long>(seed));
  out.str("\np cnf ");
  out.num(n);
  out.ch(' ');
  out.num(m);
  out.ch('\n');
  for (long long b = 0; b < blocks; b++) {
    const auto &vars = members[static_cast<std::size_t>(b)];
    if (vars.empty()) continue;
    out.ch(isExistentialBlock(b) ? 'e' : 'a');
    out.ch(' ');
    for (int v : vars) {
      out.num(v);
      out.ch(' ');
    }
    out.str("0\n");
  }
  if (m > 0 && candidates.empty()) die("no existential variable can be a pivot");
  std::vector<long long> exist, all, clause;
  for (long long c = 0; c < m; c++) {
    // A fixed clause length draws nothing, so those files keep their bytes.
    long long k = kmax > kmin ? kmin + rng.below(static_cast<std::uint32_t>(kmax - kmin + 1)) : kmin;
    clause.resize(static_cast<std::size_t>(k));
    long long pivot;
    // Eligible companions of the pivot: the window variables before it that are
    // existential (or free), or universal in a block outer to the pivot's.
    for (long long attempt = 0;; attempt++) {
      if (attempt == 1000000) die("no pivot has eligible companions: widen the window");
      pivot = candidates[rng.below(static_cast<std::uint32_t>(candidates.size()))];
      exist.clear();
      all.clear();
      int pivotBlock = block[static_cast<std::size_t>(pivot)];
      for (long long v = std::max(1LL, pivot - w); v < pivot; v++) {
        unsigned char kv = kind[static_cast<std::size_t>(v)];
        if (kv != 0) {
          exist.push_back(v);
          all.push_back(v);
        } else if (block[static_cast<std::size_t>(v)] < pivotBlock) {
          all.push_back(v);
        }
      }
      if (!exist.empty() && static_cast<long long>(all.size()) >= k - 1) break;
    }
    // Second existential literal, then k-2 more among all eligible variables.
    clause[0] = pivot;
    clause[1] = exist[rng.below(static_cast<std::uint32_t>(exist.size()))];
    for (long long i = 2; i < k; i++) {
      long long v;
      bool dup;
      do {
        v = all[rng.below(static_cast<std::uint32_t>(all.size()))];
        dup = false;
        for (long long j = 1; j < i; j++)
          if (clause[static_cast<std::size_t>(j)] == v) dup = true;
      } while (dup);
      clause[static_cast<std::size_t>(i)] = v;
    }
    // Random order on the line.
    for (long long i = k - 1; i > 0; i--)
      std::swap(clause[static_cast<std::size_t>(i)], clause[rng.below(static_cast<std::uint32_t>(i + 1))]);
    for (long long v : clause) out.lit(v, rng.coin());
    out.str("0\n");
  }
}

void chain(Out &out, long long n) {
  if (n < 2 || n > 0x7fffffffLL) die("bad chain size");
  out.str("c chain shape: ");
  out.num(n);
  out.str(" existential variables, clauses (x_i | x_i+1)\np cnf ");
  out.num(n);
  out.ch(' ');
  out.num(n - 1);
  out.str("\ne ");
  for (long long v = 1; v <= n; v++) {
    out.num(v);
    out.ch(' ');
  }
  out.str("0\n");
  for (long long v = 1; v < n; v++) {
    out.lit(v, false);
    out.lit(v + 1, false);
    out.str("0\n");
  }
}

void copies(Out &out, long long groups, std::uint64_t seed) {
  constexpr long long U = 20, PER = 4, CLAUSES = U / PER;
  if (groups < 1 || groups * (U + 1) > 0x7fffffffLL) die("bad group count");
  Rng rng(seed);
  long long n = groups * (U + 1);
  out.str("c copies shape: ");
  out.num(groups);
  out.str(" existential variables, each with its own 20 outer universals, seed ");
  out.num(static_cast<long long>(seed));
  out.str("\np cnf ");
  out.num(n);
  out.ch(' ');
  out.num(groups * CLAUSES);
  out.str("\na ");
  for (long long g = 0; g < groups; g++)
    for (long long j = 1; j <= U; j++) {
      out.num(g * (U + 1) + j);
      out.ch(' ');
    }
  out.str("0\ne ");
  for (long long g = 0; g < groups; g++) {
    out.num(g * (U + 1) + U + 1);
    out.ch(' ');
  }
  out.str("0\n");
  long long perm[U];
  for (long long g = 0; g < groups; g++) {
    long long base = g * (U + 1);
    for (long long j = 0; j < U; j++) perm[j] = base + 1 + j;
    for (long long j = U - 1; j > 0; j--) std::swap(perm[j], perm[rng.below(static_cast<std::uint32_t>(j + 1))]);
    for (long long c = 0; c < CLAUSES; c++) {
      out.lit(base + U + 1, rng.coin());
      for (long long j = 0; j < PER; j++) out.lit(perm[c * PER + j], rng.coin());
      out.str("0\n");
    }
  }
}

void tiny(const std::string &dir, long long count, std::uint64_t seed) {
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) die("cannot create the output directory");
  Rng rng(seed);
  for (long long i = 0; i < count; i++) {
    long long n = 10 + rng.below(51);
    long long blocks = 1 + rng.below(4);
    long long m = n + rng.below(static_cast<std::uint32_t>(3 * n + 1));
    std::uint64_t fileSeed = rng.next() >> 1;
    char name[32];
    std::snprintf(name, sizeof name, "/t%04lld.qdimacs", i);
    Out out(dir + name);
    window(out, n, blocks, m, 3, 3, 10, 1, 0.0, fileSeed);
  }
}

void middir(const std::string &dir, long long count, std::uint64_t seed) {
  constexpr double NMIN = 15000, NMAX = 300000;
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) die("cannot create the output directory");
  Rng rng(seed);
  for (long long i = 0; i < count; i++) {
    double u = static_cast<double>(rng.next() >> 11) * 0x1.0p-53;
    long long n = std::llround(NMIN * std::pow(NMAX / NMIN, u));
    std::uint64_t fileSeed = rng.next() >> 1;
    char name[32];
    std::snprintf(name, sizeof name, "/m%04lld.qdimacs", i);
    Out out(dir + name);
    window(out, n, 10, 4 * n, 3, 3, 50, 5, 0.0, fileSeed);
  }
}

} // namespace

int main(int argc, char **argv) {
  Args a = parse(argc, argv);
  if (a.shape == "window") {
    Out out(a.out);
    window(out, a.n, a.blocks, a.clauses, a.kmin, a.kmax, a.window, a.stripe, a.freeFraction, a.seed);
  } else if (a.shape == "chain") {
    Out out(a.out);
    chain(out, a.n);
  } else if (a.shape == "copies") {
    Out out(a.out);
    copies(out, a.groups, a.seed);
  } else if (a.shape == "tiny") {
    tiny(a.out, a.count, a.seed);
  } else if (a.shape == "middir") {
    middir(a.out, a.count, a.seed);
  } else {
    die("unknown shape (window, chain, copies, tiny, middir)");
  }
  return 0;
}

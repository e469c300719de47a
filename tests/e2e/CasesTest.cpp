// The table-driven end-to-end cases of tests/cases/*.txt: each case builds
// files in a scratch directory, runs the real tarnu or tarnu-table in it, and
// expects their exit value, standard output (masked), standard error and the
// files they wrote: whole, byte for byte, or the lines that carry the case's
// point ("has"). The syntax is at the top of tests/cases/README.md.
// TARNU_UPDATE_CASES=1 (running the whole binary) writes the actual exit
// values and whole outputs into the case files instead of comparing; partial
// expectations stay as written and are still checked. Read the diff before
// committing it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

// One directive line and, for "... <<TERM", the lines up to TERM.
struct Block {
  std::string head, terminator;
  std::vector<std::string> lines;
  bool hasBody = false;
  int line = 0; // in the case file
};

struct CaseFile {
  fs::path path;
  std::vector<Block> blocks;
};

struct Case {
  std::size_t file = 0, begin = 0, end = 0; // blocks [begin, end) of the file
  std::string name;
};

std::vector<CaseFile> files;
// With TARNU_UPDATE_CASES: per file and block, the blocks that replace it.
std::map<std::size_t, std::map<std::size_t, std::vector<Block>>> updates;

std::vector<std::string> tokens(const std::string &text);

std::string unescape(const std::string &s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); i++) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    switch (c) {
    case 'n': out += '\n'; break;
    case 't': out += '\t'; break;
    case 'r': out += '\r'; break;
    case '0': out += '\0'; break;
    case 'x': out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2; break;
    case '{': { // \{N:TEXT}: TEXT N times
      std::size_t colon = s.find(':', i), close = s.find('}', colon);
      std::string text = unescape(s.substr(colon + 1, close - colon - 1));
      for (long n = std::stol(s.substr(i + 1, colon - i - 1)); n > 0; n--) out += text;
      i = close;
      break;
    }
    default: out += c;
    }
  }
  return out;
}

std::string escape(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\r')
      out += "\\r";
    else if ((c < 0x20 && c != '\n' && c != '\t') || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool has(const std::vector<std::string> &words, const char *word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// "has" after the kind (and after the name of an "expect"): a partial expectation.
bool partial(const std::vector<std::string> &words) {
  std::size_t from = std::min<std::size_t>(words[0] == "expect" ? 2 : 1, words.size());
  return std::find(words.begin() + static_cast<std::ptrdiff_t>(from), words.end(), "has") != words.end();
}

// Whether text holds body as a block of whole lines at or after from; on a
// match, from moves past it, so that the next block must come later.
bool holds(const std::string &text, const std::string &body, std::size_t &from) {
  for (std::size_t at = text.find(body, from); at != std::string::npos; at = text.find(body, at + 1)) {
    std::size_t end = at + body.size();
    bool startsLine = at == 0 || text[at - 1] == '\n';
    bool endsLine = body.empty() || body.back() == '\n' || end == text.size() || text[end] == '\n';
    if (startsLine && endsLine) {
      from = end;
      return true;
    }
  }
  return false;
}

std::string bodyOf(const Block &b) {
  std::string text;
  for (const std::string &line : b.lines) text += line + "\n";
  std::vector<std::string> words = tokens(b.head);
  if (has(words, "noeol") && !text.empty()) text.pop_back();
  return has(words, "escaped") ? unescape(text) : text;
}

// A block "KIND [ARG] [escaped] [noeol] <<EOF" holding the text.
Block blockOf(const std::string &kind, const std::string &text) {
  Block b;
  bool plain = std::none_of(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7f;
  });
  std::string body = plain ? text : escape(text);
  b.head = kind + (plain ? "" : " escaped");
  if (!body.empty()) {
    if (body.back() == '\n')
      body.pop_back();
    else
      b.head += " noeol";
    for (std::size_t from = 0;;) {
      std::size_t to = body.find('\n', from);
      b.lines.push_back(body.substr(from, to - from));
      if (to == std::string::npos) break;
      from = to + 1;
    }
  }
  b.terminator = "EOF";
  while (std::find(b.lines.begin(), b.lines.end(), b.terminator) != b.lines.end()) b.terminator += "X";
  b.head += " <<" + b.terminator;
  b.hasBody = true;
  return b;
}

// Words separated by blanks; "..." groups, with the escapes of unescape.
std::vector<std::string> tokens(const std::string &text) {
  std::vector<std::string> words;
  std::string word, quoted;
  bool inWord = false, inQuotes = false;
  for (std::size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < text.size())
        quoted += c, c = text[++i];
      else if (c == '"') {
        word += unescape(quoted), quoted.clear(), inQuotes = false;
        continue;
      }
      quoted += c;
    } else if (c == '"') {
      inQuotes = inWord = true;
    } else if (c == ' ') {
      if (inWord) words.push_back(word), word.clear(), inWord = false;
    } else {
      word += c, inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::vector<Case> loadCases() {
  std::vector<Case> cases;
  std::vector<fs::path> paths;
  for (const auto &entry : fs::directory_iterator(test::sourceDir() + "/tests/cases"))
    if (entry.path().extension() == ".txt") paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (const fs::path &path : paths) {
    CaseFile file{path, {}};
    std::stringstream in(test::readFile(path));
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
      Block b{line, "", {}, false, ++lineNumber};
      std::size_t at = line.rfind(" <<");
      if (at != std::string::npos && line[0] != '#') {
        b.terminator = line.substr(at + 3);
        b.hasBody = true;
        for (std::string body; std::getline(in, body) && ++lineNumber && body != b.terminator;) b.lines.push_back(body);
      }
      if (line.rfind("=== ", 0) == 0) {
        if (!cases.empty() && cases.back().file == files.size()) cases.back().end = file.blocks.size();
        std::string name = std::to_string(cases.size()) + "_" + path.stem().string() + "_" + line.substr(4);
        for (char &c : name)
          if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        cases.push_back(Case{files.size(), file.blocks.size(), 0, name});
      }
      file.blocks.push_back(b);
    }
    if (!cases.empty() && cases.back().file == files.size()) cases.back().end = file.blocks.size();
    files.push_back(file);
  }
  return cases;
}

std::string notFound(const std::string &where, const std::string &lines, const std::string &text) {
  return where + "\n--- these lines:\n" + lines + "--- are not in:\n" + text;
}

bool updating() { return std::getenv("TARNU_UPDATE_CASES") != nullptr; }

void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

class Cases : public ::testing::TestWithParam<Case> {};

TEST_P(Cases, GiveTheExpectedResults) {
  const Case &c = GetParam();
  const CaseFile &file = files[c.file];
  test::ScratchDir dir;
  auto at = [&](const std::string &name) { return dir.file(name); };
  auto masked = [&](std::string text) {
    for (std::size_t p; (p = text.find(dir.path())) != std::string::npos;) text.replace(p, dir.path().size(), "{dir}");
    return text;
  };
  test::RunResult result;
  std::size_t runBlock = 0;
  bool unprivileged = false;
  for (std::size_t i = c.begin + 1; i < c.end; i++) {
    const Block &b = file.blocks[i];
    std::vector<std::string> w = tokens(b.head);
    if (w.empty() || w[0][0] == '#') continue;
    const std::string &kind = w[0];
    std::string where = file.path.filename().string() + ":" + std::to_string(b.line) + ": " + b.head;
    if (kind == "file") {
      fs::create_directories(fs::path(at(w[1])).parent_path());
      test::writeFile(at(w[1]), bodyOf(b));
    } else if (kind == "copy") {
      fs::create_directories(fs::path(at(w[2])).parent_path());
      fs::copy(test::sourceDir() + "/" + w[1], at(w[2]), fs::copy_options::recursive);
    } else if (kind == "nobody") {
      if (!test::canDropPrivileges()) GTEST_SKIP() << "runs as nobody need root";
      test::openUp(dir.path());
      unprivileged = true;
    } else if (kind == "mkdir") {
      fs::create_directories(at(w[1]));
    } else if (kind == "symlink") {
      ASSERT_EQ(symlink(w[1].c_str(), at(w[2]).c_str()), 0) << where;
    } else if (kind == "fifo") {
      ASSERT_EQ(mkfifo(at(w[1]).c_str(), 0644), 0) << where;
    } else if (kind == "chmod") {
      ASSERT_EQ(chmod(at(w[2]).c_str(), static_cast<mode_t>(std::stoul(w[1], nullptr, 8))), 0) << where;
    } else if (kind == "$") {
      std::vector<std::string> args;
      test::RunOptions options;
      options.cwd = dir.path();
      options.unprivileged = unprivileged;
      for (std::size_t k = 2; k < w.size(); k++) {
        std::string arg = w[k];
        for (std::size_t p; (p = arg.find("{dir}")) != std::string::npos;) arg.replace(p, 5, dir.path());
        if (arg == "<" && k + 1 < w.size())
          options.input = test::readFile(at(w[++k]));
        else
          args.push_back(arg);
      }
      result = test::run(w[1] == "tarnu" ? test::tarnuBinary() : test::tableBinary(), args, options);
      result.out = masked(w[1] == "tarnu" ? test::mask(result.out) : result.out);
      result.err = masked(result.err);
      runBlock = i;
      // The expectations that follow. Absent ones mean: exit 0, any standard
      // output, nothing on standard error.
      int exitValue = 0;
      bool exitStated = false, errStated = false;
      std::size_t outFrom = 0, errFrom = 0;
      std::map<std::size_t, std::vector<Block>> &fresh = updates[c.file];
      for (std::size_t k = i + 1; k < c.end; k++) {
        const Block &e = file.blocks[k];
        std::vector<std::string> ew = tokens(e.head);
        if (ew.empty() || ew[0][0] == '#') continue;
        if (ew[0] != "exit" && ew[0] != "stdout" && ew[0] != "stderr" && ew[0] != "expect" && ew[0] != "absent") break;
        std::string at = file.path.filename().string() + ":" + std::to_string(e.line) + ": " + e.head;
        bool err = ew[0] == "stderr";
        const std::string &actual = err ? result.err : result.out;
        errStated |= err;
        if (ew[0] == "exit") {
          exitValue = std::stoi(ew[1]), exitStated = true;
          if (updating()) fresh[k] = {Block{"exit " + std::to_string(result.status)}};
        } else if ((ew[0] == "stdout" || err) && partial(ew)) {
          EXPECT_TRUE(holds(actual, bodyOf(e), err ? errFrom : outFrom)) << notFound(at, bodyOf(e), actual);
        } else if (ew[0] == "stdout" || err) {
          if (!updating()) {
            EXPECT_EQ(actual, bodyOf(e)) << at;
          } else if (err && actual.empty()) {
            fresh[k] = {}; // absent means empty
          } else {
            fresh[k] = {blockOf(ew[0], actual)};
          }
        }
      }
      if (updating()) {
        fresh[i] = {b};
        if (!exitStated && result.status != 0) fresh[i].push_back(Block{"exit " + std::to_string(result.status)});
        if (!errStated && !result.err.empty()) fresh[i].push_back(blockOf("stderr", result.err));
        continue;
      }
      EXPECT_EQ(result.status, exitValue) << where << "\n" << result.out << result.err;
      if (!errStated) {
        EXPECT_EQ(result.err, "") << where;
      }
    } else if (kind == "expect") {
      std::string actual = test::readFile(at(w[1]));
      std::size_t from = 0;
      if (partial(w)) {
        EXPECT_TRUE(holds(actual, bodyOf(b), from)) << notFound(where, bodyOf(b), actual);
      } else if (updating()) {
        updates[c.file][i] = {blockOf("expect " + w[1], actual)};
        continue;
      } else {
        EXPECT_EQ(actual, bodyOf(b)) << where;
      }
      EXPECT_TRUE(fs::exists(at(w[1]))) << where;
      if (w[1].ends_with(".dot") && fs::exists(at(w[1]))) test::expectGraphvizReads(at(w[1]));
    } else if (kind == "absent") {
      EXPECT_FALSE(fs::exists(fs::symlink_status(at(w[1])))) << where;
    } else if (kind != "exit" && kind != "stdout" && kind != "stderr") {
      FAIL() << "unknown directive: " << where;
    }
  }
  EXPECT_GT(runBlock, 0u) << c.name << " runs nothing";
}

INSTANTIATE_TEST_SUITE_P(Files, Cases, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

// Writes the updated case files when the whole binary ran with the variable.
class Update : public ::testing::Environment {
  void TearDown() override {
    if (!updating()) return;
    for (std::size_t f = 0; f < files.size(); f++) {
      if (!updates.count(f)) continue; // no case of the file ran
      std::string text;
      auto write = [&](const Block &b) {
        text += b.head + "\n";
        for (const std::string &line : b.lines) text += line + "\n";
        if (b.hasBody) text += b.terminator + "\n";
      };
      const std::vector<Block> &blocks = files[f].blocks;
      for (std::size_t i = 0; i < blocks.size(); i++) {
        auto replaced = updates[f].find(i);
        if (replaced == updates[f].end())
          write(blocks[i]);
        else
          for (const Block &b : replaced->second) write(b);
      }
      test::writeFile(files[f].path, text);
    }
  }
};
const auto *update = ::testing::AddGlobalTestEnvironment(new Update);

} // namespace

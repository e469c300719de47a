// Compressed instances, end to end: a real instance of every family in every
// format gives the item (and DOT file) of the plain file; a damaged stream of
// every format gives its parse error and nothing built from part of the file;
// a small file that expands to gigabytes runs in bounded memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

struct Format {
  const char *name, *suffix, *compress; // the tool's command, reading stdin
};
// The quickest levels: the tests compress a few tens of megabytes.
const Format FORMATS[] = {{"gzip", ".gz", "gzip -1 -c"},
                          {"xz", ".xz", "xz -0 -c"},
                          {"lzma", ".lzma", "xz -0 -c --format=lzma"},
                          {"bzip2", ".bz2", "bzip2 -1 -c"},
                          {"zstd", ".zst", "zstd -1 -q -c"}};

void shell(const std::string &command, const std::string &cwd) {
  test::RunResult r = test::run("/bin/sh", {"-c", command}, {.cwd = cwd});
  ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
}

// The corpus holds the smallest instance of each family of the shared set,
// which is what this test takes from it: the extended run adds nothing here.
TEST(Compressed, EveryFamilyInEveryFormatGivesThePlainItemAndDotFile) {
  test::ScratchDir dir;
  // The instance of each family, unpacked.
  fs::create_directory(dir.file("plain"));
  std::vector<std::string> corpus = test::instanceFiles(test::corpus());
  EXPECT_EQ(corpus.size(), 81u);
  for (const fs::path path : corpus) {
    std::string name = path.filename();
    if (name.ends_with(".xz")) name.resize(name.size() - 3);
    shell("xz -dcf '" + path.string() + "' > 'plain/" + name + "'", dir.path()); // copies what is not xz
  }
  // "-tree" prints the same item as a plain run and also writes the DOT file.
  std::map<std::string, std::string> plain =
      test::itemsByPath(test::mask(test::runTarnu({"-tree", "plain"}, {.cwd = dir.path()}).out), "");
  for (const Format &format : FORMATS) {
    std::string into = format.name;
    shell("mkdir " + into + " && cd plain && for f in *; do case $f in *.dot) ;; *) " + format.compress +
              " < \"$f\" > \"../" + into + "/$f" + format.suffix + "\";; esac; done",
          dir.path());
    std::map<std::string, std::string> packed =
        test::itemsByPath(test::mask(test::runTarnu({"-tree", into}, {.cwd = dir.path()}).out), format.suffix);
    ASSERT_EQ(packed.size(), plain.size()) << format.name;
    for (const auto &[path, item] : plain) {
      std::string name = path.substr(6); // after "plain/"
      EXPECT_EQ(packed[into + "/" + name], item) << format.name << " " << name;
      EXPECT_EQ(test::readFile(dir.file(into + "/" + name + format.suffix + ".treeDup.dot")),
                test::readFile(dir.file(path + ".treeDup.dot")))
          << format.name << " " << name;
    }
    fs::remove_all(dir.file(into));
  }
}

TEST(Compressed, DamagedStreamsAreParseErrorsWithTheirReason) {
  test::ScratchDir dir;
  std::string formula = "c comment\np cnf 3 2\na 1 0\ne 2 3 0\n1 2 0\n-1 3 0\n";
  // Some 7 MB of text: the damage lies several blocks after the first, while
  // a thread decodes ahead of the reader.
  for (int i = 0; i < 120000; i++)
    formula += "c padding to make the stream longer than its header " + std::to_string(i) + "\n";
  test::writeFile(dir.file("f.qdimacs"), formula);
  for (const Format &format : FORMATS) {
    shell(std::string(format.compress) + " < f.qdimacs > good", dir.path());
    std::string good = test::readFile(dir.file("good"));
    const std::string name = std::string("x.qdimacs") + format.suffix;
    auto expect = [&](const std::string &bytes, const std::string &reason, const std::string &what) {
      test::writeFile(dir.file(name), bytes);
      test::RunResult r = test::runTarnu({name}, {.cwd = dir.path()});
      EXPECT_EQ(r.status, 252) << format.name << " " << what;
      EXPECT_TRUE(r.out.ends_with("\"...  [PARSE ERROR: " + std::string(format.name) + ": " + reason + "]\n"))
          << format.name << " " << what << "\n"
          << r.out;
    };
    for (std::size_t cut : {good.size() / 2, good.size() - 1, std::size_t{6}})
      expect(good.substr(0, cut), "unexpected end of file", "cut at " + std::to_string(cut));
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x55);
    expect(flipped, "compressed data is corrupt", "a byte flipped");
    expect(good + "garbage", "trailing garbage", "trailing garbage");
    // Whole streams one after the other read as one text, as the tools read
    // them (an lzma file holds one stream).
    if (std::string(format.name) == "lzma") continue;
    test::writeFile(dir.file(name), good + good);
    test::RunResult twice = test::runTarnu({name}, {.cwd = dir.path()});
    EXPECT_EQ(twice.status, 1) << format.name;
    EXPECT_NE(twice.out.find("     clauses: 2\n"), std::string::npos) << format.name;
  }
  shell("gzip -c f.qdimacs > a.qdimacs.gz && cat a.qdimacs.gz > zeros.qdimacs.gz && head -c 100 /dev/zero >> "
        "zeros.qdimacs.gz && gzip -c < /dev/null > empty.qdimacs.gz",
        dir.path());
  EXPECT_EQ(test::runTarnu({"zeros.qdimacs.gz"}, {.cwd = dir.path()}).status, 1) << "zeros after a gzip member";
  EXPECT_EQ(test::runTarnu({"empty.qdimacs.gz"}, {.cwd = dir.path()}).status, 252) << "no problem line";
  // An empty file has no problem line whatever its name says (.lzma has no
  // magic number to tell it by).
  for (const Format &format : FORMATS) {
    test::writeFile(dir.file(std::string("e.qdimacs") + format.suffix), "");
    test::RunResult r = test::runTarnu({std::string("e.qdimacs") + format.suffix}, {.cwd = dir.path()});
    EXPECT_NE(r.err.find(" 0 parse errors, 1 without a problem line"), std::string::npos) << format.name << r.out;
  }
  // A zstd frame with the largest window the format allows (as zstd --long=31
  // writes it for a large input), holding one raw block.
  const std::string text = "p cnf 2 1\n1 -2 0\n";
  test::writeFile(dir.file("long.qdimacs.zst"), std::string("\x28\xb5\x2f\xfd\x00\xa8", 6) +
                                                    static_cast<char>(text.size() << 3 | 1) + std::string(2, '\0') +
                                                    text);
  EXPECT_EQ(test::runTarnu({"long.qdimacs.zst"}, {.cwd = dir.path()}).status, 1);
}

// tests/data/comments.qdimacs.xz: 2 GB of comment lines of 1000 characters
// before a formula of two variables, in 300 KB.
TEST(Compressed, GigabytesOfCommentsRunInBoundedMemory) {
  test::RunResult r = test::runTarnu({test::sourceDir() + "/tests/data/comments.qdimacs.xz"},
                                     {.memory = test::sanitized() ? 0 : 256ULL << 20});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("   variables: 2\n"), std::string::npos) << r.out;
}

} // namespace

// The manual page: renders without a warning, and covers the whole interface.

#include <gtest/gtest.h>

#include <string>

#include "TableTestSupport.h"

namespace {
std::string manPage() { return (tabletest::sourceDir() / "man" / "tarnu.1").string(); }
} // namespace

TEST(ManPage, RendersWithoutWarnings) {
  bool groff = tabletest::onPath("groff");
  bool mandoc = tabletest::onPath("mandoc");
  if (!groff && !mandoc)
    GTEST_SKIP() << "neither groff nor mandoc is installed (apt-get install groff mandoc): the manual page is not "
                    "checked";
  if (groff) {
    tabletest::RunResult r = tabletest::run({"groff", "-ww", "-z", "-man", "-Tutf8", manPage()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "") << "groff warns";
    tabletest::RunResult text = tabletest::run({"groff", "-man", "-Tutf8", manPage()});
    EXPECT_EQ(text.status, 0);
    std::string plain; // without the overstrikes of bold and underlined text
    for (char c : text.out) {
      if (c == '\b' && !plain.empty())
        plain.pop_back();
      else
        plain += c;
    }
    EXPECT_NE(plain.find("EXIT STATUS"), std::string::npos);
  }
  if (mandoc) {
    tabletest::RunResult r = tabletest::run({"mandoc", "-Tlint", "-Wall", manPage()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "") << "mandoc finds fault with the page";
  }
}

TEST(ManPage, CoversTheInterface) {
  std::string page = tabletest::readFile(manPage());
  ASSERT_FALSE(page.empty());
  for (const char *section : {".SH NAME", ".SH SYNOPSIS", ".SH DESCRIPTION", ".SH OPTIONS", ".SH OUTPUT", ".SH FILES",
                              ".SH EXIT STATUS", ".SH EXAMPLES", ".SH BENCHMARK TABLES"})
    EXPECT_NE(page.find(section), std::string::npos) << section;
  for (const char *option : {"\\-tree", "\\-clauses", "\\-linear", "\\-pre", "\\-version"})
    EXPECT_NE(page.find(std::string(".B ") + option + "\n"), std::string::npos) << option;
  for (const char *text : {"[OK, ",
                           "[TIMEOUT]",
                           "[CRASH]",
                           "[PARSE ERROR: ",
                           "[DOT FILE NOT WRITTEN: ",
                           "[Abnormal exit due to error",
                           "memUsage",
                           "freeMem",
                           ".treeDup.dot",
                           "Growing time",
                           "Components",
                           "D-Components",
                           "Depth",
                           "EXISTS nodes",
                           "FORALL nodes",
                           "Branches",
                           "Delta MAX",
                           "Delta AVG",
                           "variables",
                           "alternations",
                           "clauses",
                           "tarnu examples/ | tarnu\\-table > table.csv"})
    EXPECT_NE(page.find(text), std::string::npos) << text;
  for (const char *status : {".B 40\n", ".BR 253 \" (\\-3)\"", ".BR 254 \" (\\-2)\"", ".B 1\n", ".BR 252 \" (\\-4)\"",
                             ".B 30\n", ".BR 251 \" (\\-5)\"", ".BR 255 \" (\\-1)\"", "modulo\n256"})
    EXPECT_NE(page.find(status), std::string::npos) << status;
}

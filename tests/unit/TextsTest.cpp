// The texts of the output are one vocabulary (base/OutputTexts.h): what
// Tarnu writes with it, tarnu-table reads back. This file is built twice: as
// it is, and against a copy of the vocabulary whose "variables" label was
// changed (tests/CMakeLists.txt), where writer and reader both follow it.

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "base/OutputTexts.h"
#include "table/TarnuOutput.h"

#ifndef TARNU_VARIABLES_LABEL
#define TARNU_VARIABLES_LABEL "   variables: "
#endif

namespace {

// What the function writes on standard output.
template <typename Print> std::string captured(Print print) {
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  std::FILE *file = std::tmpfile();
  dup2(fileno(file), STDOUT_FILENO);
  print();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(Texts, WhatTheWriterPrintsTheReaderReads) {
  const std::pair<Figure, TableColumn> figures[] = {{Figure::Variables, COL_VARIABLES},
                                                    {Figure::Forall, COL_FORALL},
                                                    {Figure::Exists, COL_EXISTS},
                                                    {Figure::Alternations, COL_ALTERNATIONS},
                                                    {Figure::Clauses, COL_CLAUSES},
                                                    {Figure::GrowingTime, COL_GROWING_TIME_MS},
                                                    {Figure::Components, COL_COMPONENTS},
                                                    {Figure::DComponents, COL_D_COMPONENTS},
                                                    {Figure::Depth, COL_DEPTH},
                                                    {Figure::ExistsNodes, COL_EXISTS_NODES},
                                                    {Figure::ForallNodes, COL_FORALL_NODES},
                                                    {Figure::Branches, COL_BRANCHES},
                                                    {Figure::DeltaMax, COL_DELTA_MAX},
                                                    {Figure::DeltaAvg, COL_DELTA_AVG},
                                                    {Figure::TreeAlternations, COL_TREE_ALTERNATIONS}};
  FigureTexts texts;
  int value = 10;
  for (const auto &[figure, column] : figures) texts[static_cast<std::size_t>(figure)] = std::to_string(value++);
  char banner[80];
  std::snprintf(banner, sizeof banner, BANNER_FORMAT, "Dec 10 2026");
  std::string run = banner + OutputTexts_head(1, "d/f.qdimacs") + captured([&] {
                      OutputTexts_print(FORMULA_SUMMARY, texts);
                      OutputTexts_print(TREE_SUMMARY, texts);
                      OutputTexts_print(ALTERNATIONS_LINE, texts);
                      std::fputs(std::string(TREE_SUMMARY_END).c_str(), stdout);
                    });
  run.append(OK_MARK_START).append("0.0").append(OK_MARK_END).append("\n\n");
  EXPECT_NE(run.find("\n" TARNU_VARIABLES_LABEL "10\n"), std::string::npos) << run;

  TarnuTable table = TarnuOutput_read(run);
  ASSERT_EQ(table.rows.size(), 1u) << run;
  const TableRow &row = table.rows[0];
  EXPECT_EQ(row[COL_PATH], "d/f.qdimacs");
  EXPECT_EQ(row[COL_OUTCOME], "ok");
  for (const auto &[figure, column] : figures)
    EXPECT_EQ(row[column], texts[static_cast<std::size_t>(figure)]) << TABLE_COLUMN_NAMES[column];
}

} // namespace

// The CSV writer: RFC 4180 quoting, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "table/Csv.h"

TEST(TableCsv, PlainFieldsStayBare) {
  std::string out;
  Csv_appendRecord(out, std::vector<std::string>{"1", "d/x.qdimacs", "", "60.87", "100%"});
  EXPECT_EQ(out, "1,d/x.qdimacs,,60.87,100%\r\n");
}

TEST(TableCsv, CommasQuotesAndLineBreaksAreQuoted) {
  std::string out;
  Csv_appendRecord(out, std::vector<std::string>{"a,b", "say \"hi\"", "new\nline", "cr\rhere", "\"", " x "});
  EXPECT_EQ(out, "\"a,b\",\"say \"\"hi\"\"\",\"new\nline\",\"cr\rhere\",\"\"\"\", x \r\n");
}

TEST(TableCsv, EveryByteComesBack) {
  std::string all;
  for (int c = 1; c < 256; c++) all += static_cast<char>(c);
  std::string out;
  Csv_appendRecord(out, std::vector<std::string>{all, "", all + "," + all});
  std::vector<tabletest::CsvRecord> records;
  ASSERT_TRUE(tabletest::parseCsv(out, records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], (tabletest::CsvRecord{all, "", all + "," + all}));
}

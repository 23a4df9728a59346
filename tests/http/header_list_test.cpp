#include "http/header_list.h"

#include <gtest/gtest.h>

#include <string>

#include "util/text.h"

namespace quenby {
namespace {

THeaderList ListOf(std::initializer_list<const char*> lines) {
  THeaderList list;
  for (const char* line : lines)
    list.Add(line);
  return list;
}

TEST(HeaderListTest, LookupIgnoresCaseAndTrimsValue) {
  const THeaderList list = ListOf({"Host: a", "Content-Length:   10  ", "X-Empty:"});
  EXPECT_EQ(list.ValueByName("content-length"), "10");
  EXPECT_EQ(list.IndexOfHeader("HOST"), 0);
  EXPECT_EQ(list.IndexOfHeader("Missing"), -1);
  EXPECT_EQ(list.ValueByName("Missing"), "");
  EXPECT_EQ(list.ValueByName("x-empty"), "");
}

TEST(HeaderListTest, NameOfLineHonoursExactNamesAndLinesWithoutColon) {
  THeaderList list = ListOf({"Host: a", "no colon here", ""});
  EXPECT_EQ(list.NameOfLine(0), "HOST");
  list.ExactNames = true;
  EXPECT_EQ(list.NameOfLine(0), "Host");
  EXPECT_EQ(list.NameOfLine(1), "");
  EXPECT_EQ(list.NameOfLine(2), "");
  EXPECT_EQ(list.NameOfLine(3), "");
  EXPECT_EQ(list.NameOfLine(-1), "");
}

TEST(HeaderListTest, ValueOfLineOutsideTheListIsEmpty) {
  const THeaderList list = ListOf({"A: 1", ""});
  EXPECT_EQ(list.ValueOfLine(2), "");
  EXPECT_EQ(list.ValueOfLine(-1), "");
  EXPECT_EQ(list.ValueOfLine(1), "");  // an empty line has nothing after its "colon"
}

TEST(HeaderListTest, ContinuationLinesAreJoinedUnlessSwitchedOff) {
  THeaderList list = ListOf({"X-Long: a", " b", "\tc", "Next: d"});
  EXPECT_EQ(list.ValueByName("x-long"), "a b c");
  EXPECT_EQ(list.ValueByName("next"), "d");
  list.JoinContinuations = false;
  EXPECT_EQ(list.ValueByName("x-long"), "a");
}

TEST(HeaderListTest, ValuesByNameCollectsEveryLineInOrder) {
  const THeaderList list = ListOf({"Cookie: a=1", "Host: h", "cookie: c=3"});
  std::vector<std::string> values{"kept"};
  list.ValuesByName("COOKIE", &values);
  EXPECT_EQ(values, (std::vector<std::string>{"kept", "a=1", "c=3"}));
  list.ValuesByName("Cookie", nullptr);  // no destination: nothing to do, no crash
}

TEST(HeaderListTest, SetValueReplacesInPlaceAppendsAndDeletes) {
  THeaderList list = ListOf({"A: 1", "B: 2", " b-continued", "C: 3"});
  list.SetValue("b", "two");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "b: two", "C: 3"}));
  list.SetValue("D", "4");
  EXPECT_EQ(list[3], "D: 4");
  list.SetValue("A", "");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"b: two", "C: 3", "D: 4"}));
  list.SetValue("Absent", "");
  EXPECT_EQ(list.Count(), 3);
}

TEST(HeaderListTest, SetValueWithoutFoldingKeepsContinuationsAndOneLine) {
  THeaderList list = ListOf({"B: 2", " continued", "C: 3"});
  list.FoldOnSet = false;
  const std::string long_value(300, 'x');
  list.SetValue("B", "a " + long_value);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"B: a " + long_value, " continued", "C: 3"}));
  list.SetValue("B", "");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{" continued", "C: 3"}));
}

TEST(HeaderListTest, LongValueFoldsWithinWidthAndRoundTrips) {
  std::string value;
  for (int i = 0; value.size() < 200; ++i)
    value += (i ? " word" : "word") + std::to_string(i);
  THeaderList list;
  list.SetValue("X-Words", value);
  ASSERT_GT(list.Count(), 1);
  EXPECT_LE(list[0].size(), 78u);
  for (int i = 1; i < list.Count(); ++i) {
    EXPECT_EQ(list[i][0], ' ') << list[i];
    EXPECT_LE(list[i].size(), 78u) << list[i];
  }
  EXPECT_EQ(list.ValueByName("x-words"), value);
  // Setting it again replaces the folded line and all its continuation lines.
  list.SetValue("X-Words", "short");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X-Words: short"}));
}

TEST(HeaderListTest, FoldingNeverBreaksInsideQuotes) {
  const std::string quoted = "\"" + std::string(40, 'a') + " " + std::string(60, 'b') + "\"";
  THeaderList list;
  list.SetValue("X-Q", "start " + quoted + " end");
  bool found = false;
  for (const std::string& line : list.Lines())
    found = found || line.find(quoted) != std::string::npos;
  EXPECT_TRUE(found) << list.Text();
  EXPECT_EQ(list.ValueByName("X-Q"), "start " + quoted + " end");
}

TEST(HeaderListTest, FoldTextEdges) {
  const std::string exact(78, 'a');
  EXPECT_EQ(FoldHeaderText(exact, 78), exact);
  const std::string no_breaks(200, 'z');
  EXPECT_EQ(FoldHeaderText(no_breaks, 78), no_breaks);  // nowhere to break: one long piece
  // A break already in the text is kept and not doubled.
  EXPECT_EQ(FoldHeaderText("A: x\r\n y", 78), "A: x\r\n y");
  // Commas are break characters too.
  const std::string listed = std::string(50, 'a') + "," + std::string(50, 'b');
  EXPECT_EQ(FoldHeaderText(listed, 78), std::string(50, 'a') + ",\r\n " + std::string(50, 'b'));
}

TEST(HeaderListTest, TextFormRoundTrips) {
  THeaderList list;
  list.SetText("A: 1\r\nB: 2\nC: 3\r\n");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Text(), "A: 1\r\nB: 2\r\nC: 3\r\n");
  THeaderList copy;
  copy.FoldWidth = 10;
  copy.Assign(list);
  EXPECT_EQ(copy.Lines(), list.Lines());
  EXPECT_EQ(copy.FoldWidth, 10);
}

TEST(HeaderListTest, ListOperationsRejectIndexesOutside) {
  THeaderList list = ListOf({"A: 1"});
  EXPECT_THROW(list.Delete(1), std::out_of_range);
  EXPECT_THROW(list.Insert(2, "x"), std::out_of_range);
  EXPECT_THROW(list.Put(-1, "x"), std::out_of_range);
  EXPECT_THROW((void)list[5], std::out_of_range);
  list.Insert(0, "Z: 0");
  EXPECT_EQ(list[0], "Z: 0");
}

TEST(HeaderListTest, ParameterListWithOtherSeparator) {
  THeaderList params;
  params.Separator = "=";
  params.SetValue("realm", "x");
  EXPECT_EQ(params[0], "realm=x");
  EXPECT_EQ(params.ValueByName("REALM"), "x");
}

}  // namespace
}  // namespace quenby

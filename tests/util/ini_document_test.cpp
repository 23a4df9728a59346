#include "util/ini_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenby {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(IniDocument, ReadsHeadersKeysCommentsAndBlanksInFileOrder) {
  const TIniDocument document(
      "stray=before any section\n"
      "; comment=not a key\n"
      "[Setup]\r\n"
      "  Host = 10.0.0.5  \r\n"
      "\r\n"
      "Port=80\r\n"
      "BareKey\r\n"
      "port=8080\r\n"
      "[ alias ]\n"
      "/bin=/srv/bin=x\n"
      "[SETUP]\n"
      "Index=home.htm");
  EXPECT_THAT(document.ReadSections(), ElementsAre("Setup", "alias"));
  EXPECT_THAT(document.ReadSection("setup"), ElementsAre("Host", "Port", "BareKey", "Index"));
  EXPECT_EQ(document.ReadString("SETUP", "host"), "10.0.0.5");
  EXPECT_EQ(document.ReadString("Setup", "Port"), "80");  // the first of a repeated key
  EXPECT_EQ(document.ReadString("Setup", "Index"), "home.htm");
  EXPECT_EQ(document.ReadString("Alias", "/bin"), "/srv/bin=x");
  EXPECT_EQ(document.ReadString("Setup", "BareKey"), "");
  EXPECT_EQ(document.ReadString("Setup", "stray"), "");
  EXPECT_THAT(document.ReadSection("Missing"), IsEmpty());
  EXPECT_THAT(TIniDocument("").ReadSections(), IsEmpty());
}

TEST(IniDocument, WriteChangesOnlyTheLineItTouches) {
  const std::string head = "; top\r\n[Other]\r\nColour = blue\r\n";
  TIniDocument document(head + "[Setup]\r\nPort = 80\r\n; next\r\n\r\n[Tail]\r\nx=1");
  document.WriteString("setup", "PORT", "81");
  document.WriteString("Setup", "Host", "h");
  EXPECT_EQ(document.Text(), head + "[Setup]\r\nPort=81\r\nHost=h\r\n; next\r\n\r\n[Tail]\r\nx=1");
  document.WriteString("New", "k", "v");
  EXPECT_EQ(
      document.Text(),
      head + "[Setup]\r\nPort=81\r\nHost=h\r\n; next\r\n\r\n[Tail]\r\nx=1\r\n[New]\r\nk=v\r\n");
  TIniDocument empty;
  empty.WriteString("S", "k", "");
  EXPECT_EQ(empty.Text(), "[S]\nk=\n");
}

TEST(IniDocument, EraseRemovesEveryBlockOfTheSectionButKeepsItsComments) {
  TIniDocument document("[A]\nx=1\n\n[Setup]\nHost=h\n; note\n\n[B]\ny=2\n[setup]\r\nPort=80\r\n");
  document.EraseSection("SETUP");
  EXPECT_EQ(document.Text(), "[A]\nx=1\n\n; note\n[B]\ny=2\n");
  EXPECT_THAT(document.ReadSections(), ElementsAre("A", "B"));
}

TEST(IniDocument, RefusesEntriesThatWouldBreakTheFileStructure) {
  const std::string text = "[S]\nk=v\n";
  TIniDocument document(text);
  EXPECT_THROW(document.WriteString("S", "k", "a\nb"), EIniFileError);
  EXPECT_THROW(document.WriteString("S", "k\r", "v"), EIniFileError);
  EXPECT_THROW(document.WriteString("S\n[T]", "k", "v"), EIniFileError);
  EXPECT_THROW(document.WriteString("S", "[T", "]"), EIniFileError);
  document.WriteString("S", "   ", "lost");  // a key without a name could never be read
  EXPECT_EQ(document.Text(), text);
  document.WriteString("S", "[x]", "");  // reads back as a key, not as a header
  EXPECT_THAT(document.ReadSection("S"), ElementsAre("k", "[x]"));
}

}  // namespace
}  // namespace quenby

#include "util/settings_file.h"

#include <cerrno>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "util/ini_document.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Property;
using ::testing::Throws;
using StringList = std::vector<std::string>;

// The cache is process-wide: every test starts from an empty one.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadSettingsFile(dir_.FilePath("none.ini")); }

  // Flushes, then loads the file again, as a save followed by the next start would.
  std::string SaveAndReload(const std::string& names) {
    FlushSettingsSections(ini_, names);
    LoadSettingsFile(ini_);
    return dir_.Read("quenby.ini");
  }

  test::TempDir dir_;
  std::string ini_ = dir_.FilePath("quenby.ini");
};

TEST_F(SettingsFileTest, FlushRewritesOnlyTheNamedSectionsAndKeepsEverythingElseByteForByte) {
  const std::string foreign =
      "; Quenby settings\r\n[Other]\r\nColour = blue\r\n; keep me\r\n\r\n"
      "[a=b]\r\nk=v\r\n";
  dir_.Write("quenby.ini", foreign + "[Setup]\r\nHost=10.0.0.5\r\nPort = 80\r\nIndex=\r\n" +
                               "[Alias]\r\n/bin=/srv/bin\r\n[Tail]\nx=1");
  LoadSettingsFile(ini_);
  EXPECT_THAT(SettingsCache(),
              ElementsAre("Other=Colour=blue##CR##", "Setup=Host=10.0.0.5##CR##Port=80##CR##",
                          "Alias=/bin=/srv/bin##CR##", "Tail=x=1##CR##"));
  EXPECT_EQ(ReadSettingValue("SETUP", "port"), "80");
  EXPECT_EQ(ReadSettingValue("Setup", "Index"), "");
  WriteSettingValue("Setup", "Port", "");
  WriteSettingValue("Setup", "Index", "home.htm");
  EXPECT_EQ(SaveAndReload("Setup, Alias"),
            foreign + "[Tail]\nx=1\r\n[Setup]\r\nHost=10.0.0.5\r\nIndex=home.htm\r\n" +
                "[Alias]\r\n/bin=/srv/bin\r\n");
  EXPECT_EQ(ReadSettingValue("Setup", "Port"), "");
  EXPECT_EQ(ReadSettingValue("Setup", "Index"), "home.htm");
}

TEST_F(SettingsFileTest, SectionTextRoundTripsThroughTheFileByTheEncodingRules) {
  StringList memo{"untouched"};
  ReadSectionText("Alias", memo);
  EXPECT_THAT(memo, ElementsAre("untouched"));

  WriteSectionText("Alias", "/bin=/srv/bin\r\n/x=1\r\n/X=2\r\nno equals sign\r\n  /last=z  ");
  EXPECT_THAT(SettingsCache(),
              ElementsAre("Alias=/bin=/srv/bin##CR##/x=1##CR##/X=2##CR##no equals sign##CR##"
                          "  /last=z  "));
  EXPECT_EQ(SaveAndReload("Alias"), "[Alias]\n/bin=/srv/bin\n/x=1\nno equals sign=\n/last=z\n");
  ReadSectionText("Alias", memo);
  EXPECT_THAT(memo, ElementsAre("/bin=/srv/bin", "/x=1", "/last=z"));

  WriteSectionText("Alias", "/a\r\n/b\r\n");  // all lines without values: kept as names
  SaveAndReload("Alias");
  ReadSectionText("Alias", memo);
  EXPECT_THAT(memo, ElementsAre("/a", "/b"));
}

TEST_F(SettingsFileTest, MarkerInsideAValueSplitsItIntoTwoLines) {
  WriteSettingValue("Setup", "Root", "/srv/a##CR##b");
  EXPECT_EQ(ReadSettingValue("Setup", "Root"), "/srv/a");
  StringList lines;
  ReadSectionText("Setup", lines);
  EXPECT_THAT(lines, ElementsAre("Root=/srv/a", "b"));
  EXPECT_EQ(SaveAndReload("Setup"), "[Setup]\nRoot=/srv/a\nb=\n");
}

TEST_F(SettingsFileTest, LoadKeepsTheFirstOfRepeatedKeysAndLongValuesWhole) {
  const std::string long_root(3000, 'r');
  dir_.Write("quenby.ini", "[Setup]\nPort=80\nport=81\nEmpty=\nRoot=" + long_root + "\n");
  LoadSettingsFile(ini_);
  StringList lines;
  ReadSectionText("Setup", lines);
  EXPECT_THAT(lines, ElementsAre("Port=80", "Root=" + long_root));
}

TEST_F(SettingsFileTest, FlushMatchesNamesAsSubstringsAndErasesSectionsEmptiedSinceLoad) {
  dir_.Write("quenby.ini", "[Alias]\n/bin=/srv\n[Keep]\nk=v\n");
  LoadSettingsFile(ini_);
  WriteSettingValue("Set", "A", "1");
  WriteSettingValue("Setup", "B", "2");
  WriteSettingValue("Extra", "C", "3");
  WriteSectionText("Alias", "");  // the user removed every alias line
  EXPECT_EQ(SaveAndReload("Setup Alias"), "[Keep]\nk=v\n[Set]\nA=1\n[Setup]\nB=2\n");
}

TEST_F(SettingsFileTest, FailedFlushRaisesAndLosesNothing) {
  WriteSettingValue("Setup", "Port", "80");
  const std::string missing = dir_.FilePath("missing/quenby.ini");
  EXPECT_THAT(
      [&] { FlushSettingsSections(missing, "Setup"); },
      Throws<EInOutError>(AllOf(Property(&EInOutError::Message, "Unable to write to " + missing),
                                Property(&EInOutError::ErrorCode, ENOENT))));
  dir_.Write("quenby.ini", "[Setup]\nPort=80\n");
  WriteSettingValue("Setup", "Root", "/a\n[Evil]");  // a lone LF is not a cache line break
  EXPECT_THROW(FlushSettingsSections(ini_, "Setup"), EIniFileError);
  EXPECT_EQ(dir_.Read("quenby.ini"), "[Setup]\nPort=80\n");
}

TEST(SettingsHelpers, TextToBoolAcceptsOnlyTrueInAnyCase) {
  for (const char* yes : {"true", "True", "TRUE", "tRUE"})
    EXPECT_TRUE(TextToBool(yes)) << yes;
  for (const char* no : {"1", "yes", "", " TRUE", "FALSE"})
    EXPECT_FALSE(TextToBool(no)) << no;
  EXPECT_EQ(BoolToText(true), "TRUE");
  EXPECT_EQ(BoolToText(false), "FALSE");
}

TEST(SettingsHelpers, SetListValueSetsInPlaceDeletesAndAppends) {
  StringList list{"bare", "Host=a", "Port=1", "host=b"};
  SetListValue(list, "HOST", "c");
  SetListValue(list, "Port", "");
  SetListValue(list, "Index", "i");
  SetListValue(list, "Missing", "");
  SetListValue(list, "bare", "x");  // a line without "=" has no name
  EXPECT_THAT(list, ElementsAre("bare", "HOST=c", "host=b", "Index=i", "bare=x"));
}

TEST(SettingsHelpers, SplitTrimReplaceFollowTheirExactRules) {
  StringList pieces{"old"};
  SplitBySeparator(" a ##CR####CR## b ", "##CR##", pieces);
  EXPECT_THAT(pieces, ElementsAre(" a ", "", "b"));
  SplitBySeparator("a##CR##", "##CR##", pieces);
  EXPECT_THAT(pieces, ElementsAre("a"));
  SplitBySeparator("", "##CR##", pieces);
  EXPECT_THAT(pieces, IsEmpty());
  SplitBySeparator(" a ", "", pieces);
  EXPECT_THAT(pieces, ElementsAre("a"));

  EXPECT_EQ(TrimSpaces("  \ta\t  "), "\ta\t");
  std::string text = "aXa aaa";
  ReplaceAllText("a", "aa", text);
  EXPECT_EQ(text, "aaXaa aaaaaa");
  ReplaceAllText("aa", "b", text);
  EXPECT_EQ(text, "bXb bbb");
  ReplaceAllText("", "z", text);
  ReplaceAllText("B", "z", text);
  EXPECT_EQ(text, "bXb bbb");
}

}  // namespace
}  // namespace quenby

#include "console/console_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "util/exception.h"

namespace quenby {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::ThrowsMessage;

// Defaults as an executable at <dir>/bin/quenby would have them, with a host source that
// counts how often it is asked.
struct TDefaultsFixture {
  explicit TDefaultsFixture(const test::TempDir& dir)
      : defaults(DefaultsForExecutable(dir.FilePath("bin/quenby"))) {
    defaults.Host = [this] {
      ++host_queries;
      return std::string("192.0.2.7");
    };
  }
  TSettingsDefaults defaults;
  int host_queries = 0;
};

TEST(ConsoleSettings, PathsDerivedFromTheExecutable) {
  EXPECT_EQ(ChangeFileExt("/opt/q/quenby", ".ini"), "/opt/q/quenby.ini");
  EXPECT_EQ(ChangeFileExt("/opt/q.d/quenby", ".ini"), "/opt/q.d/quenby.ini");
  EXPECT_EQ(ChangeFileExt("/opt/q/quenby.bin", ".log"), "/opt/q/quenby.log");
  EXPECT_EQ(ExtractFilePath("/opt/q/quenby"), "/opt/q/");
  EXPECT_EQ(ExtractFilePath("quenby"), "");
  const TSettingsDefaults defaults = DefaultsForExecutable("/opt/q/quenby");
  EXPECT_EQ(defaults.Root, "/opt/q/");
  EXPECT_EQ(defaults.LogFile, "/opt/q/quenby.log");
}

TEST(ConsoleSettings, MissingFileGivesEveryDefault) {
  test::TempDir dir;
  TDefaultsFixture fixture(dir);
  const TConsoleSettings settings = LoadConsoleSettings(dir.FilePath("none.ini"), fixture.defaults);
  EXPECT_EQ(settings.Host, "192.0.2.7");
  EXPECT_EQ(settings.Port, "80");
  EXPECT_EQ(settings.Root, dir.FilePath("bin/"));
  EXPECT_EQ(settings.Index, "index.htm");
  EXPECT_EQ(settings.LogFile, dir.FilePath("bin/quenby.log"));
  EXPECT_FALSE(settings.EnableLog);
  EXPECT_FALSE(settings.AutoStart);
  EXPECT_THAT(settings.AliasLines, IsEmpty());
  EXPECT_FALSE(dir.Exists("none.ini")) << "loading must not create the file";
}

TEST(ConsoleSettings, StoredValuesWinAndTheHostIsAskedOnlyWhenMissing) {
  test::TempDir dir;
  const std::string ini = dir.Write("q.ini",
                                    "[Setup]\r\nHost=10.1.2.3\r\nPort=8081\r\nRoot=/srv/www/\r\n"
                                    "Index=home.html\r\nLogFile=/var/q.log\r\n"
                                    "EnableLog=true\r\nAutoStart=yes\r\n"
                                    "[Alias]\r\n/bin=/srv/dlls\r\n/img=/srv/img\r\n");
  TDefaultsFixture fixture(dir);
  const TConsoleSettings settings = LoadConsoleSettings(ini, fixture.defaults);
  EXPECT_EQ(fixture.host_queries, 0);
  EXPECT_EQ(settings.Host, "10.1.2.3");
  EXPECT_EQ(settings.Port, "8081");
  EXPECT_EQ(settings.Root, "/srv/www/");
  EXPECT_EQ(settings.Index, "home.html");
  EXPECT_EQ(settings.LogFile, "/var/q.log");
  EXPECT_TRUE(settings.EnableLog) << "any case of TRUE is on";
  EXPECT_FALSE(settings.AutoStart) << "only TRUE is on";
  EXPECT_THAT(settings.AliasLines, ElementsAre("/bin=/srv/dlls", "/img=/srv/img"));
}

TEST(ConsoleSettings, SaveWritesKeysInOrderAndKeepsOtherSections) {
  test::TempDir dir;
  const std::string ini = dir.Write("q.ini", "[Other]\r\nkeep=me\r\n");
  TDefaultsFixture fixture(dir);
  TConsoleSettings settings = LoadConsoleSettings(ini, fixture.defaults);
  settings.Host = "127.0.0.1";
  settings.Port = "8080";
  settings.EnableLog = true;
  settings.AliasLines = {"/bin=/srv/dlls", "/x=/srv/x"};
  SaveConsoleSettings(ini, settings);

  const std::string text = dir.Read("q.ini");
  EXPECT_THAT(text, HasSubstr("keep=me"));
  const std::vector<std::string> keys = {"Host=127.0.0.1", "Port=8080", "Root=",
                                         "Index=",         "LogFile=",  "EnableLog=TRUE",
                                         "AutoStart=FALSE"};
  std::size_t previous = 0;
  for (const std::string& key : keys) {
    const std::size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, previous) << key << " out of order";
    previous = at;
  }
  EXPECT_THAT(text, HasSubstr("/bin=/srv/dlls"));

  const TConsoleSettings loaded = LoadConsoleSettings(ini, fixture.defaults);
  EXPECT_EQ(loaded.Host, settings.Host);
  EXPECT_EQ(loaded.Port, settings.Port);
  EXPECT_EQ(loaded.Root, settings.Root);
  EXPECT_EQ(loaded.Index, settings.Index);
  EXPECT_EQ(loaded.LogFile, settings.LogFile);
  EXPECT_EQ(loaded.EnableLog, true);
  EXPECT_EQ(loaded.AutoStart, false);
  EXPECT_EQ(loaded.AliasLines, settings.AliasLines);
}

TEST(ConsoleSettings, EmptyTextsRemoveTheirKeysSoDefaultsReturn) {
  test::TempDir dir;
  const std::string ini = dir.FilePath("q.ini");
  TDefaultsFixture fixture(dir);
  TConsoleSettings settings = LoadConsoleSettings(ini, fixture.defaults);
  settings.Index = "";
  settings.Host = "";
  settings.AliasLines = {"/a=/x"};
  SaveConsoleSettings(ini, settings);
  EXPECT_THAT(dir.Read("q.ini"), Not(HasSubstr("Index")));

  settings.AliasLines.clear();
  SaveConsoleSettings(ini, settings);
  EXPECT_THAT(dir.Read("q.ini"), Not(HasSubstr("/a=/x"))) << "removing every alias lasts";

  const TConsoleSettings loaded = LoadConsoleSettings(ini, fixture.defaults);
  EXPECT_EQ(loaded.Index, "index.htm");
  EXPECT_EQ(loaded.Host, "192.0.2.7");
  EXPECT_THAT(loaded.AliasLines, IsEmpty());
}

TEST(ConsoleSettings, AliasLineWithoutEqualsSignIsLostUnlessAllAreLikeIt) {
  test::TempDir dir;
  const std::string ini = dir.FilePath("q.ini");
  TDefaultsFixture fixture(dir);
  TConsoleSettings settings = LoadConsoleSettings(ini, fixture.defaults);
  settings.AliasLines = {"/bin=/srv/dlls", "/broken"};
  SaveConsoleSettings(ini, settings);
  EXPECT_THAT(dir.Read("q.ini"), HasSubstr("/broken="));
  EXPECT_THAT(LoadConsoleSettings(ini, fixture.defaults).AliasLines, ElementsAre("/bin=/srv/dlls"));

  settings.AliasLines = {"/only"};
  SaveConsoleSettings(ini, settings);
  EXPECT_THAT(LoadConsoleSettings(ini, fixture.defaults).AliasLines, ElementsAre("/only"));
}

TEST(ConsoleSettings, OverridesActAsIfTheFileHeldThem) {
  test::TempDir dir;
  const std::string ini = dir.Write("q.ini",
                                    "[Setup]\r\nPort=8081\r\nEnableLog=TRUE\r\n"
                                    "[Alias]\r\n/bin=/srv/dlls\r\n");
  TDefaultsFixture fixture(dir);
  TCommandLine options;
  options.Host = "127.0.0.1";
  options.Port = "";
  options.LogFile = "/tmp/run.log";
  options.EnableLog = false;
  options.AliasLines = std::vector<std::string>{"/x=/srv/x"};
  const TConsoleSettings settings = LoadConsoleSettings(ini, fixture.defaults, options);
  EXPECT_EQ(fixture.host_queries, 0) << "a given host needs no address query";
  EXPECT_EQ(settings.Host, "127.0.0.1");
  EXPECT_EQ(settings.Port, "") << "an empty option empties the setting";
  EXPECT_EQ(settings.LogFile, "/tmp/run.log");
  EXPECT_FALSE(settings.EnableLog);
  EXPECT_THAT(settings.AliasLines, ElementsAre("/x=/srv/x"));
}

TEST(ConsoleSettings, UnwritableFileRaisesAndKeepsWhatItHad) {
  test::TempDir dir;
  TDefaultsFixture fixture(dir);
  const std::string ini = dir.FilePath("missing/q.ini");
  const TConsoleSettings settings = LoadConsoleSettings(ini, fixture.defaults);
  EXPECT_THAT([&] { SaveConsoleSettings(ini, settings); },
              ThrowsMessage<Exception>(HasSubstr("Unable to write to")));
}

}  // namespace
}  // namespace quenby

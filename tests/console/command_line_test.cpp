#include "console/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenby {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

TCommandLine Parsed(const std::vector<std::string>& arguments) {
  TCommandLineResult result = ParseCommandLine(arguments);
  EXPECT_TRUE(result.Ok()) << result.Error;
  return result.Options;
}

std::string ErrorOf(const std::vector<std::string>& arguments) {
  TCommandLineResult result = ParseCommandLine(arguments);
  EXPECT_FALSE(result.Ok());
  return result.Error;
}

TEST(CommandLine, NothingGivenOverridesNothing) {
  const TCommandLine options = Parsed({});
  EXPECT_FALSE(options.Help);
  EXPECT_FALSE(options.Headless);
  EXPECT_FALSE(options.SettingsFile || options.Host || options.Port || options.Root ||
               options.Index || options.LogFile || options.EnableLog || options.AliasLines);
}

TEST(CommandLine, ValuesInBothFormsAndEmptyValuesOverride) {
  const TCommandLine options =
      Parsed({"--headless", "--settings", "/etc/q.ini", "--host=127.0.0.1", "--port", "",
              "--root=", "--index", "a=b.htm", "--log-file=/tmp/x=y.log"});
  EXPECT_TRUE(options.Headless);
  EXPECT_THAT(options.SettingsFile, Optional(std::string("/etc/q.ini")));
  EXPECT_THAT(options.Host, Optional(std::string("127.0.0.1")));
  EXPECT_THAT(options.Port, Optional(std::string()));
  EXPECT_THAT(options.Root, Optional(std::string()));
  EXPECT_THAT(options.Index, Optional(std::string("a=b.htm")));
  EXPECT_THAT(options.LogFile, Optional(std::string("/tmp/x=y.log")));
  EXPECT_FALSE(options.EnableLog);
}

TEST(CommandLine, LaterOptionsWin) {
  const TCommandLine options = Parsed({"--port", "80", "--log", "--port=0", "--no-log"});
  EXPECT_THAT(options.Port, Optional(std::string("0")));
  EXPECT_THAT(options.EnableLog, Optional(false));
  EXPECT_THAT(Parsed({"--no-log", "--log"}).EnableLog, Optional(true));
}

TEST(CommandLine, AliasLinesAccumulateInOrder) {
  const TCommandLine options =
      Parsed({"--alias", "/bin=/opt/modules", "--alias=/Docs=/srv/My Docs", "--alias", ""});
  ASSERT_TRUE(options.AliasLines);
  EXPECT_THAT(*options.AliasLines, ElementsAre("/bin=/opt/modules", "/Docs=/srv/My Docs"));
  const TCommandLine none = Parsed({"--alias="});
  ASSERT_TRUE(none.AliasLines);
  EXPECT_TRUE(none.AliasLines->empty());
}

TEST(CommandLine, TLSOptionsAndTheirPairing) {
  const TCommandLine files = Parsed({"--tls-cert", "/c.pem", "--tls-key=/k.pem"});
  EXPECT_THAT(files.TLSCertFile, Optional(std::string("/c.pem")));
  EXPECT_THAT(files.TLSKeyFile, Optional(std::string("/k.pem")));
  EXPECT_FALSE(files.TLS);
  EXPECT_THAT(Parsed({"--tls"}).TLS, Optional(true));
  EXPECT_FALSE(Parsed({}).TLSCertFile || Parsed({}).TLSKeyFile || Parsed({}).TLS);
  const char* pairing = "options '--tls-cert' and '--tls-key' go together";
  EXPECT_EQ(ErrorOf({"--tls-cert", "/c.pem"}), pairing);
  EXPECT_EQ(ErrorOf({"--tls", "--tls-key", "/k.pem"}), pairing);
  EXPECT_EQ(ErrorOf({"--tls=yes"}), "option '--tls' takes no value");
}

TEST(CommandLine, FeatureFlagsAreSetOnlyWhenGiven) {
  const TCommandLine none = Parsed({});
  EXPECT_FALSE(none.KeepAlive || none.HTTPCache || none.ListFolders || none.OpenBrowser ||
               none.ReloadModules || none.TraceModules || none.AllMethods);
  const TCommandLine all = Parsed({"--keep-alive", "--http-cache", "--list-folders", "--open",
                                   "--reload-modules", "--trace-modules", "--all-methods"});
  for (const std::optional<bool>& flag :
       {all.KeepAlive, all.HTTPCache, all.ListFolders, all.OpenBrowser, all.ReloadModules,
        all.TraceModules, all.AllMethods}) {
    EXPECT_THAT(flag, Optional(true));
  }
  EXPECT_EQ(ErrorOf({"--reload-modules=1"}), "option '--reload-modules' takes no value");
  EXPECT_THAT(Usage(), HasSubstr("--trace-modules"));
}

TEST(CommandLine, HelpEndsTheParse) {
  EXPECT_TRUE(Parsed({"--help"}).Help);
  const TCommandLineResult result = ParseCommandLine({"--port", "1", "--help", "--bogus"});
  EXPECT_TRUE(result.Ok());
  EXPECT_TRUE(result.Options.Help);
}

TEST(CommandLine, BadInputGivesAMessageNamingTheArgument) {
  struct Case {
    std::vector<std::string> arguments;
    const char* error;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--bogus=1"}, "unknown option '--bogus=1'"},
      {{"-h"}, "unexpected argument '-h'"},
      {{"--"}, "unknown option '--'"},
      {{"--=x"}, "unknown option '--=x'"},
      {{"--PORT", "80"}, "unknown option '--PORT'"},
      {{"site"}, "unexpected argument 'site'"},
      {{"--port"}, "option '--port' needs a value"},
      {{"--root", "--headless"}, "option '--root' needs a value"},
      {{"--headless=yes"}, "option '--headless' takes no value"},
      {{"--no-log="}, "option '--no-log' takes no value"},
      {{"--alias", "/bin"}, "option '--alias' needs the form /NAME=DIR, not '/bin'"},
      {{"--port", "80", "extra"}, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf(c.arguments), c.error) << c.arguments.front();
  }
}

TEST(CommandLine, ArgvFormSkipsTheProgramName) {
  const char* argv[] = {"/usr/bin/quenby", "--headless", "--port=8080"};
  const TCommandLineResult result = ParseCommandLine(3, argv);
  ASSERT_TRUE(result.Ok());
  EXPECT_TRUE(result.Options.Headless);
  EXPECT_THAT(result.Options.Port, Optional(std::string("8080")));
  const char* program_only[] = {"quenby"};
  EXPECT_TRUE(ParseCommandLine(1, program_only).Ok());
}

TEST(CommandLine, UsageNamesTheProgramAndEveryOption) {
  const std::string usage = Usage("qb");
  EXPECT_THAT(usage, ::testing::StartsWith("Usage: qb [--headless] [--settings FILE]"));
  for (const char* option :
       {"--headless", "--settings FILE", "--host ADDR", "--port N", "--root DIR", "--index NAME",
        "--log-file FILE", "--log ", "--no-log", "--alias /NAME=DIR", "--tls ", "--tls-cert FILE",
        "--tls-key FILE", "--help"}) {
    EXPECT_THAT(usage, HasSubstr("\n  " + std::string(option))) << option;
  }
  EXPECT_EQ(usage.back(), '\n');
}

}  // namespace
}  // namespace quenby

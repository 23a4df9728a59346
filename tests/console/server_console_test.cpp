#include "console/server_console.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"

namespace quenby {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;

// A console as the window has it after creation and showing, with an executable in a temporary
// folder, loopback host, port 0 and a log file beside it.
class ServerConsoleTest : public ::testing::Test {
 protected:
  ServerConsoleTest() : console_(dir_.FilePath("quenby"), "") {
    console_.IPWatch1.AddressSource = [] { return std::string("192.0.2.9"); };
    console_.OnStatus = [this](const std::string& line) { shown_.push_back(line); };
    console_.FormCreate();
    console_.FormShow();
    console_.Settings.Host = "127.0.0.1";
    console_.Settings.Port = "0";
    console_.Settings.Root = dir_.Path();
    console_.Settings.EnableLog = true;
  }

  std::string Log() const { return dir_.Exists("quenby.log") ? dir_.Read("quenby.log") : ""; }

  test::TempDir dir_;
  TServerConsole console_;
  std::vector<std::string> shown_;
};

// A socket listening on a loopback port, to take that port away from the console.
class TPortHolder {
 public:
  TPortHolder() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd_, 1) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot hold a port";
    }
    port_ = ntohs(address.sin_port);
  }
  ~TPortHolder() { Release(); }
  int Port() const { return port_; }
  void Release() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
  int port_ = 0;
};

TEST_F(ServerConsoleTest, LoadsDefaultsBesideTheExecutable) {
  EXPECT_EQ(console_.IniFileName, dir_.FilePath("quenby.ini"));
  EXPECT_EQ(console_.LogFileName, dir_.FilePath("quenby.log"));
  EXPECT_EQ(console_.DefaultRootDir, dir_.Path() + "/");
  TServerConsole fresh(dir_.FilePath("quenby"), "");
  fresh.IPWatch1.AddressSource = [] { return std::string("192.0.2.9"); };
  fresh.FormCreate();
  EXPECT_EQ(fresh.Settings.Host, "192.0.2.9");
  ASSERT_NE(fresh.ConsoleMimeTypes(), nullptr);
  EXPECT_EQ(fresh.Handler().FileContentType("a.gif"), "image/gif");
}

TEST_F(ServerConsoleTest, FeaturesComeFromTheOptionsSectionAndTheCommandLineWins) {
  EXPECT_EQ(console_.Features, TFeatureOptions{}) << "every feature starts off";
  dir_.Write("quenby.ini",
             "[Options]\r\nKeepAlive=TRUE\r\nTraceModules=TRUE\r\n"
             "AllMethods=FALSE\r\n");
  TCommandLine options;
  options.AllMethods = true;
  console_.LoadSettings(options);
  TFeatureOptions expected;
  expected.KeepAlive = true;
  expected.TraceModules = true;
  expected.AllMethods = true;
  EXPECT_EQ(console_.Features, expected);
}

TEST_F(ServerConsoleTest, LogFileIsTakenAtLoadOnly) {
  TCommandLine options;
  options.LogFile = dir_.FilePath("run.log");
  console_.LoadSettings(options);
  EXPECT_EQ(console_.LogFileName, dir_.FilePath("run.log"));
  console_.Settings.LogFile = dir_.FilePath("later.log");
  console_.Settings.EnableLog = true;
  console_.LogActivity("entry");
  EXPECT_TRUE(dir_.Exists("run.log"));
  EXPECT_FALSE(dir_.Exists("later.log"));
}

TEST_F(ServerConsoleTest, StateTableFromInitialThroughRunningToStopped) {
  EXPECT_EQ(console_.Enabled, TControlStates{}) << "every control starts enabled";

  console_.btnStartClick();
  ASSERT_TRUE(console_.HTTPServer.Active());
  EXPECT_GT(console_.ListeningPort(), 0);
  const TControlStates running = console_.Enabled;
  EXPECT_FALSE(running.Host || running.Port || running.Root || running.Index || running.LogFile ||
               running.Alias || running.EnableLog || running.Start);
  EXPECT_TRUE(running.Stop && running.AutoStart && running.Minimize && running.Exit &&
              running.StatusList);
  ASSERT_THAT(console_.StatusLines(), SizeIs(1));
  EXPECT_THAT(console_.StatusLines()[0], StartsWith("Started at:"));
  EXPECT_EQ(console_.SelectedStatusLine(), 0);

  console_.btnStopClick();
  EXPECT_FALSE(console_.HTTPServer.Active());
  const TControlStates stopped = console_.Enabled;
  EXPECT_TRUE(stopped.Host && stopped.Port && stopped.Root && stopped.Index && stopped.LogFile &&
              stopped.Alias && stopped.EnableLog && stopped.Start);
  EXPECT_FALSE(stopped.Stop);
  ASSERT_THAT(console_.StatusLines(), SizeIs(2)) << "a stop line goes below the start line";
  EXPECT_THAT(console_.StatusLines()[1], StartsWith("Stopped at:"));
  EXPECT_EQ(console_.SelectedStatusLine(), 1);
  EXPECT_EQ(shown_, console_.StatusLines());

  console_.btnStartClick();
  EXPECT_THAT(console_.StatusLines(), SizeIs(1)) << "each start begins a fresh list";
  console_.btnStopClick();
}

TEST_F(ServerConsoleTest, EmptyPortFailsTheStartAndKeepsTheControls) {
  console_.Settings.Port = "";
  console_.btnStartClick();
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_EQ(console_.Enabled, TControlStates{});
  EXPECT_THAT(console_.StatusLines(),
              ElementsAre("Exception EConvertError in Activate. Error is:\"'' is not a valid "
                          "integer value\"."));
  EXPECT_THAT(Log(), HasSubstr("Exception EConvertError in Activate."));
}

TEST_F(ServerConsoleTest, PortOutOfRangeIsRefusedNotTruncated) {
  // 65536 + 80 would be port 80 if it were cut to 16 bits.
  console_.Settings.Port = "65616";
  console_.btnStartClick();
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_THAT(console_.StatusLines(),
              ElementsAre("Exception EInvalidPortRange in Activate. Error is:\"Invalid Port "
                          "Range (65616 - 65616)\"."));
}

TEST_F(ServerConsoleTest, PortInUseFailsThenASecondStartWorks) {
  TPortHolder holder;
  console_.Settings.Port = std::to_string(holder.Port());
  console_.btnStartClick();
  EXPECT_FALSE(console_.HTTPServer.Active());
  ASSERT_THAT(console_.StatusLines(), SizeIs(1));
  EXPECT_THAT(console_.StatusLines()[0],
              StartsWith("Exception ECouldNotBindSocket in Activate. Error is:\""));
  EXPECT_TRUE(console_.Enabled.Start);

  holder.Release();
  console_.btnStartClick();
  EXPECT_TRUE(console_.HTTPServer.Active());
  EXPECT_EQ(console_.ListeningPort(), holder.Port());
  ASSERT_THAT(console_.StatusLines(), SizeIs(1));
  EXPECT_THAT(console_.StatusLines()[0], StartsWith("Started at:"));
  console_.btnStopClick();
}

TEST_F(ServerConsoleTest, ExitWhileStoppedShowsAndLogsAStopLineThenCloses) {
  int closes = 0;
  console_.OnCloseWindow = [&closes] { ++closes; };
  console_.btnExitClick();
  EXPECT_EQ(closes, 1);
  ASSERT_THAT(console_.StatusLines(), SizeIs(1));
  EXPECT_THAT(console_.StatusLines()[0], StartsWith("Stopped at:"));
  EXPECT_THAT(Log(), HasSubstr("\r\n" + console_.StatusLines()[0] + "\r\n"));
}

TEST_F(ServerConsoleTest, UnloggableStartLineLeavesTheServerRunning) {
  console_.LogFileName = dir_.FilePath("missing/quenby.log");
  EXPECT_THROW(console_.btnStartClick(), EInOutError);
  EXPECT_TRUE(console_.HTTPServer.Active());
  ASSERT_THAT(console_.StatusLines(), SizeIs(1)) << "the exception line starts afresh";
  EXPECT_THAT(console_.StatusLines()[0], StartsWith("Exception EInOutError in Activate."));
  EXPECT_THAT(shown_, SizeIs(2)) << "the start line was shown before its log failed";
  console_.LogFileName = dir_.FilePath("quenby.log");
  console_.btnStopClick();
  EXPECT_FALSE(console_.HTTPServer.Active());
}

TEST_F(ServerConsoleTest, NothingHappensBeforeTheWindowIsShown) {
  TServerConsole pending(dir_.FilePath("quenby"), "");
  pending.FormCreate();
  pending.Settings.Port = "0";
  pending.btnStartClick();
  EXPECT_FALSE(pending.HTTPServer.Active());
  EXPECT_THAT(pending.StatusLines(), IsEmpty());
}

TEST_F(ServerConsoleTest, TimerStartsOnceAndOnlyWithAutoStart) {
  console_.Timer1Timer();
  EXPECT_FALSE(console_.HTTPServer.Active()) << "Auto Start is off";

  console_.Timer1Enabled = true;
  console_.Settings.AutoStart = true;
  console_.Timer1Timer();
  EXPECT_TRUE(console_.HTTPServer.Active());
  ASSERT_THAT(console_.StatusLines(), SizeIs(1));
  EXPECT_THAT(console_.StatusLines()[0], StartsWith("Started at:"));
  console_.btnStopClick();
  console_.Timer1Timer();
  EXPECT_FALSE(console_.HTTPServer.Active()) << "the timer fires once";
}

TEST_F(ServerConsoleTest, CloseStopsTheServerAndSavesTheSettings) {
  console_.btnStartClick();
  console_.FormClose();
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_THAT(console_.StatusLines().back(), StartsWith("Stopped at:"));
  EXPECT_THAT(dir_.Read("quenby.ini"), HasSubstr("Host=127.0.0.1"));
}

TEST_F(ServerConsoleTest, RequestsUseTheSettingsTakenAtStart) {
  dir_.Write("first/a.txt", "first");
  dir_.Write("second/a.txt", "second");
  console_.Settings.Root = dir_.FilePath("first");
  console_.btnStartClick();
  ASSERT_TRUE(console_.HTTPServer.Active());
  console_.Settings.Root = dir_.FilePath("second");
  console_.Settings.EnableLog = false;

  test::TLoopbackClient client(console_.ListeningPort());
  client.Send("GET /a.txt HTTP/1.0\r\n\r\n");
  const std::string reply = client.ReceiveUntilClose();
  EXPECT_THAT(reply, HasSubstr("\r\n\r\nfirst"));
  EXPECT_THAT(reply, HasSubstr("Content-Type: text/plain"));
  THTTPRequestInfo request;
  THTTPResponseInfo response(nullptr);
  console_.Handler().ISAPIRunnerLogServerMessage(console_.ISAPIRunner, request, response,
                                                 "module says");
  console_.btnStopClick();
  EXPECT_THAT(Log(), HasSubstr("Serving file " + dir_.FilePath("first/a.txt")))
      << "logging stays on for requests until the next start";
  EXPECT_THAT(Log(), HasSubstr("\r\nmodule says\r\n"));
}

TEST_F(ServerConsoleTest, ModuleTraceAndReloadLinesGoToTheLogOnlyWithTheirFeatures) {
  const std::string modules = QUENBY_TEST_MODULE_DIR;
  std::filesystem::create_directories(dir_.FilePath("mods"));
  std::filesystem::copy_file(modules + "/rawreply.dll", dir_.FilePath("mods/app.dll"));
  console_.Settings.AliasLines = {"/bin=" + modules, "/mods=" + dir_.FilePath("mods")};
  std::vector<std::string> notes;
  console_.OnServerNote = [&notes](const std::string& line) { notes.push_back(line); };
  const auto fetch = [this](const std::string& path) {
    test::TLoopbackClient client(console_.ListeningPort());
    client.Send("GET " + path + " HTTP/1.0\r\n\r\n");
    return client.ReceiveUntilClose();
  };
  const auto rebuild = [this](const std::string& source) {
    std::filesystem::copy_file(source, dir_.FilePath("mods/next.dll"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(dir_.FilePath("mods/next.dll"), dir_.FilePath("mods/app.dll"));
  };

  console_.btnStartClick();
  fetch("/bin/hello.dll");
  fetch("/mods/app.dll");
  rebuild(modules + "/hello.dll");
  EXPECT_THAT(fetch("/mods/app.dll"), HasSubstr("raw reply module"));
  console_.btnStopClick();
  EXPECT_THAT(Log(), Not(HasSubstr("[hello.dll #")));
  EXPECT_THAT(Log(), Not(HasSubstr("Reloading")));

  console_.Features.TraceModules = true;
  console_.Features.ReloadModules = true;
  console_.btnStartClick();
  fetch("/bin/hello.dll");
  fetch("/mods/app.dll");
  rebuild(modules + "/rawreply.dll");
  EXPECT_THAT(fetch("/mods/app.dll"), HasSubstr("raw reply module"));
  console_.btnStopClick();
  EXPECT_THAT(Log(), HasSubstr("] HttpExtensionProc -> HSE_STATUS_SUCCESS\r\n"));
  EXPECT_THAT(Log(), HasSubstr("[hello.dll #1] request \"GET /bin/hello.dll HTTP/1.0\""));
  const std::string reload =
      "Reloading module " + dir_.FilePath("mods/app.dll") + ": its file has changed";
  EXPECT_THAT(Log(), HasSubstr(reload));
  EXPECT_THAT(notes, ElementsAre(reload));
}

// PATH replaced for the time of one test.
class TPathOverride {
 public:
  explicit TPathOverride(const std::string& folders) : saved_(std::getenv("PATH")) {
    setenv("PATH", folders.c_str(), 1);
  }
  ~TPathOverride() { setenv("PATH", saved_.c_str(), 1); }
  TPathOverride(const TPathOverride&) = delete;
  TPathOverride& operator=(const TPathOverride&) = delete;

 private:
  std::string saved_;
};

TEST_F(ServerConsoleTest, OpenAsksTheDesktopOpenerAndAMissingOneIsOnlyAWarning) {
  const std::string opened = dir_.FilePath("opened.txt");
  dir_.Write("bin/xdg-open", "#!/bin/sh\necho \"$1\" > " + opened + ".part && mv " + opened +
                                 ".part " + opened + "\n");
  std::filesystem::permissions(dir_.FilePath("bin/xdg-open"), std::filesystem::perms::owner_all);
  std::vector<std::string> warnings;
  console_.OnWarning = [&warnings](const std::string& line) { warnings.push_back(line); };
  {
    TPathOverride path(dir_.FilePath("bin") + ":/usr/bin:/bin");
    console_.btnStartClick();
    console_.btnStopClick();
    EXPECT_FALSE(dir_.Exists("opened.txt")) << "off unless asked for";

    console_.Features.OpenBrowser = true;
    console_.btnStartClick();
    const std::string url = console_.BrowserURL();
    EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(console_.ListeningPort()) + "/");
    for (int i = 0; i < 1000 && !dir_.Exists("opened.txt"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(dir_.Read("opened.txt"), url + "\n");
    console_.btnStopClick();
  }
  TPathOverride nowhere(dir_.FilePath("empty"));
  console_.btnStartClick();
  EXPECT_TRUE(console_.HTTPServer.Active());
  EXPECT_THAT(warnings,
              ElementsAre("cannot open " + console_.BrowserURL() + ": xdg-open is not installed"));
}

TEST_F(ServerConsoleTest, PortFieldTakesDigitsOnly) {
  EXPECT_TRUE(TServerConsole::edPortKeyPress('7'));
  EXPECT_TRUE(TServerConsole::edPortKeyPress(BackspaceKey));
  EXPECT_FALSE(TServerConsole::edPortKeyPress('a'));
  EXPECT_FALSE(TServerConsole::edPortKeyPress('.'));
  console_.Settings.Port = "80.8";
  console_.edPortChange();
  EXPECT_EQ(console_.Settings.Port, "80");
  console_.edHostDblClick();
  EXPECT_EQ(console_.Settings.Host, "192.0.2.9");
}

}  // namespace
}  // namespace quenby

// The headless runner in-process: a console driven by RunHeadless, with the stop wait short.
#include "console/headless_runner.h"

#include <dlfcn.h>

#include <chrono>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/server_console.h"
#include "support/net_loopback.h"
#include "support/quenby_process.h"
#include "support/temp_dir.h"

namespace quenby {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr int ShortStopWait = 200;  // ms
constexpr const char* TimeoutLine =
    "Exception ETerminateThreadTimeout in Activate. Error is:\"Terminate Thread Timeout\".";

// The test's own reference to the pending module: the same loaded copy as the server's, through
// which the test sees and ends the requests the module holds.
class TPendingModule {
 public:
  TPendingModule() : handle_(dlopen(QUENBY_TEST_MODULE_DIR "/pending.dll", RTLD_NOW)) {
    if (handle_ != nullptr) {
      held_count_ = reinterpret_cast<int (*)()>(dlsym(handle_, "pending_held_count"));
      release_held_ = reinterpret_cast<int (*)()>(dlsym(handle_, "pending_release_held"));
    }
  }
  ~TPendingModule() {
    if (handle_ != nullptr)
      dlclose(handle_);
  }
  TPendingModule(const TPendingModule&) = delete;
  TPendingModule& operator=(const TPendingModule&) = delete;

  bool Usable() const { return held_count_ != nullptr && release_held_ != nullptr; }
  int HeldCount() const { return held_count_(); }
  /// Ends what the module holds; returns how many of its finishes the server refused.
  int ReleaseHeld() const { return release_held_(); }

 private:
  void* handle_;
  int (*held_count_)() = nullptr;
  int (*release_held_)() = nullptr;
};

// Ends the held requests when it goes, so that a console declared before it can stop.
class TReleaseHeldAtEnd {
 public:
  explicit TReleaseHeldAtEnd(const TPendingModule& module) : module_(module) {}
  ~TReleaseHeldAtEnd() { module_.ReleaseHeld(); }
  TReleaseHeldAtEnd(const TReleaseHeldAtEnd&) = delete;
  TReleaseHeldAtEnd& operator=(const TReleaseHeldAtEnd&) = delete;

 private:
  const TPendingModule& module_;
};

TCommandLine Options(const test::TempDir& dir) {
  TCommandLine options;
  options.Headless = true;
  options.SettingsFile = dir.FilePath("quenby.ini");
  options.Host = "127.0.0.1";
  options.Port = "0";
  options.Root = dir.Path();
  options.AliasLines = std::vector<std::string>{std::string("/bin=") + QUENBY_TEST_MODULE_DIR};
  options.EnableLog = true;
  options.LogFile = dir.FilePath("quenby.log");
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

TEST(HeadlessRunner, AStopThatCannotEndAHangingModuleGivesUpAfterTheWaitAndExitsOne) {
  test::TempDir dir;
  const TPendingModule pending;
  ASSERT_TRUE(pending.Usable()) << dlerror();
  std::ostringstream out;
  std::ostringstream err;
  std::thread client;
  int code = 0;
  {
    TServerConsole console(dir.FilePath("quenby"), "");
    const TReleaseHeldAtEnd release(pending);
    console.HTTPServer.TerminateWaitTime = ShortStopWait;
    std::chrono::steady_clock::time_point stop_began;
    code = RunHeadless(console, Options(dir), out, err, [&] {
      client = std::thread([port = console.ListeningPort()] {
        test::Exchange(port, "GET /bin/pending.dll?inside HTTP/1.0\r\n\r\n");
      });
      EXPECT_TRUE(
          test::WaitUntil([&] { return pending.HeldCount() == 1; }, std::chrono::seconds(10)));
      stop_began = std::chrono::steady_clock::now();
    });
    EXPECT_GE(std::chrono::steady_clock::now() - stop_began,
              std::chrono::milliseconds(ShortStopWait));
    EXPECT_TRUE(console.HTTPServer.Active());
    EXPECT_THAT(console.StatusLines(), ElementsAre(StartsWith("Started at:"), TimeoutLine));
    EXPECT_TRUE(console.Enabled.Stop && !console.Enabled.Start)
        << "a failed stop leaves the controls as they were";
  }
  client.join();
  EXPECT_EQ(code, FailureExitCode);
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 3u) << out.str() << err.str();
  EXPECT_EQ(lines[2], TimeoutLine);
  EXPECT_EQ(test::LogEntryTexts(dir.Read("quenby.log")).back(), TimeoutLine);
}

TEST(HeadlessRunner, AStartAfterAStopThatTimedOutListensAgainOrSaysWhyNot) {
  test::TempDir dir;
  const TPendingModule pending;
  ASSERT_TRUE(pending.Usable()) << dlerror();
  std::thread client;
  TServerConsole console(dir.FilePath("quenby"), "");
  const TReleaseHeldAtEnd release(pending);
  console.FormCreate();
  console.FormShow();
  console.Settings.Host = "127.0.0.1";
  console.Settings.Port = "0";
  console.Settings.Root = dir.Path();
  console.Settings.AliasLines = {std::string("/bin=") + QUENBY_TEST_MODULE_DIR};
  console.HTTPServer.TerminateWaitTime = ShortStopWait;
  console.btnStartClick();
  ASSERT_THAT(console.StatusLines().back(), StartsWith("Started at:"));
  client = std::thread([port = console.ListeningPort()] {
    test::Exchange(port, "GET /bin/pending.dll?inside HTTP/1.0\r\n\r\n");
  });
  ASSERT_TRUE(test::WaitUntil([&] { return pending.HeldCount() == 1; }, std::chrono::seconds(10)));
  console.btnStopClick();
  EXPECT_EQ(console.StatusLines().back(), TimeoutLine);

  console.btnStartClick();  // the module still hangs: the start says so and listens nowhere
  EXPECT_EQ(console.StatusLines().back(), TimeoutLine);
  EXPECT_EQ(console.HTTPServer.ListenerThreadCount(), 0);

  pending.ReleaseHeld();
  client.join();
  console.btnStartClick();
  ASSERT_THAT(console.StatusLines().back(), StartsWith("Started at:"));
  EXPECT_THAT(
      test::Exchange(console.ListeningPort(), "GET /bin/pending.dll?early HTTP/1.0\r\n\r\n"),
      testing::HasSubstr("pending: finished before PENDING"));
  console.btnStopClick();
  EXPECT_THAT(console.StatusLines().back(), StartsWith("Stopped at:"));
}

// A pending request outlives its client or the stop only as a block the module's later
// callbacks can no longer use; its peer thread is free at once.
TEST(HeadlessRunner, APendingRequestEndsWhenTheStopDropsItOrItsClientLeaves) {
  test::TempDir dir;
  const TPendingModule pending;
  ASSERT_TRUE(pending.Usable()) << dlerror();
  std::ostringstream out;
  std::ostringstream err;
  std::thread held_through_stop;
  int code = 0;
  int refused = 0;
  {
    TServerConsole console(dir.FilePath("quenby"), "");
    const TReleaseHeldAtEnd release(pending);
    code = RunHeadless(console, Options(dir), out, err, [&] {
      const int port = console.ListeningPort();
      {
        test::TLoopbackClient leaving(port);
        leaving.Send("GET /bin/pending.dll?hold HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(
            test::WaitUntil([&] { return pending.HeldCount() == 1; }, std::chrono::seconds(10)));
      }
      EXPECT_TRUE(test::WaitUntil([&] { return console.HTTPServer.PeerThreadCount() == 0; },
                                  std::chrono::seconds(10)))
          << "the thread of a client that left is still waiting";
      refused += pending.ReleaseHeld();

      held_through_stop = std::thread(
          [port] { test::Exchange(port, "GET /bin/pending.dll?hold HTTP/1.0\r\n\r\n"); });
      EXPECT_TRUE(
          test::WaitUntil([&] { return pending.HeldCount() == 1; }, std::chrono::seconds(10)));
    });
    refused += pending.ReleaseHeld();
  }
  held_through_stop.join();
  EXPECT_EQ(code, 0) << out.str() << err.str();
  EXPECT_EQ(refused, 2) << "a finish after the run ended must be refused";
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.back(), StartsWith("Stopped at:"));
}

TEST(HeadlessRunner, TheStopWaitsFiftySecondsUnlessTheVariableAsksForAnotherWait) {
  test::TempDir dir;
  const TServerConsole console(dir.FilePath("quenby"), "");
  EXPECT_EQ(console.HTTPServer.TerminateWaitTime, 50000);
  EXPECT_EQ(StopWaitTime(nullptr, ConsoleTerminateWaitTime), ConsoleTerminateWaitTime);
  EXPECT_EQ(StopWaitTime("250", ConsoleTerminateWaitTime), 250);
  // 0 would end the stop at once with the peer threads still running.
  for (const char* ignored : {"", "0", "-5", "soon", "2.5"}) {
    EXPECT_EQ(StopWaitTime(ignored, ConsoleTerminateWaitTime), ConsoleTerminateWaitTime) << ignored;
  }
}

}  // namespace
}  // namespace quenby

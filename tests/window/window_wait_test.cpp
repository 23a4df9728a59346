// What the window does while a console call takes long, how it learns of stop signals, where it
// keeps its settings when the executable's folder is read-only, and the program opening it.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>

#include <gmock/gmock.h>

#include "console/headless_runner.h"
#include "support/quenby_process.h"
#include "window/quit_signal_notifier.h"
#include "window_fixture.h"

extern char** environ;

namespace quenby::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Holds a thread inside a call until the test lets it go, or a bound passes.
class TGate {
 public:
  void WaitOpen() {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    open_changed_.wait_for(lock, std::chrono::milliseconds(WindowWaitMs), [this] { return open_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    open_changed_.notify_all();
  }
  bool Entered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_changed_;
  bool entered_ = false;
  bool open_ = false;
};

// Counts the paint events a widget gets.
class TPaintCounter : public QObject {
 public:
  int Count() const { return count_; }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++count_;
    }
    return false;
  }

 private:
  int count_ = 0;
};

TEST_F(WindowTest, ALongStopKeepsPaintingDropsClicksAndClosesAfterwards) {
  Open();
  Click("btnStart");
  ASSERT_TRUE(console_.HTTPServer.Active());
  // The stop's status line is shown on the thread that runs the stop; holding it there stands for
  // a stop that waits for a module's peer thread.
  TGate gate;
  console_.OnStatus = [&gate](const std::string& line) {
    if (line.starts_with("Stopped at:")) {
      gate.WaitOpen();
    }
  };
  TPaintCounter paints;
  window_->installEventFilter(&paints);
  bool checked_while_stopping = false;
  int paints_before = 0;
  QTimer probe;
  probe.setInterval(10);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!gate.Entered()) {
      return;
    }
    if (!checked_while_stopping) {
      checked_while_stopping = true;
      Click("btnStart");
      Click("btnExit");
      window_->close();
      paints_before = paints.Count();
      window_->update();
      return;
    }
    if (paints.Count() > paints_before) {
      probe.stop();
      gate.Open();
    }
  });
  probe.start();
  Click("btnStop");

  EXPECT_TRUE(checked_while_stopping) << "timers ran while the stop waited";
  EXPECT_GT(paints.Count(), paints_before) << "the window painted while the stop waited";
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_THAT(console_.StatusLines(),
              ElementsAre(StartsWith("Started at:"), StartsWith("Stopped at:")))
      << "neither the Start nor the Exit clicked during the stop ran";
  EXPECT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
  EXPECT_TRUE(dir_.Exists("quenby.ini")) << "the close asked for during the stop ran after it";
  gate.Open();
  window_->removeEventFilter(&paints);
}

TEST_F(WindowTest, AStopSignalClosesTheWindowAsItsCloseBoxDoes) {
  Open();
  Click("btnStart");
  TStopSignals stop_signals;
  TQuitSignalNotifier notifier(stop_signals, [this] { window_->close(); });
  // Directed at this thread, which blocks it, so no other thread takes it.
  pthread_kill(pthread_self(), SIGTERM);
  EXPECT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_TRUE(dir_.Exists("quenby.ini"));
}

TEST(WindowSettingsLocation, ReadOnlyExecutableFolderKeepsSettingsAndLogInThePerUserFolders) {
  TempDir dir;
  // Root writes through permission bits, but not into /proc.
  std::string folder = "/proc";
  if (geteuid() != 0) {
    folder = dir.FilePath("readonly");
    ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  }
  const std::string config = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString();
  const std::string state = qEnvironmentVariable("XDG_STATE_HOME").toStdString();
  {
    TServerConsole console(folder + "/quenby", "");
    console.IPWatch1.AddressSource = [] { return std::string("192.0.2.9"); };
    TdlgMain window(console);
    window.show();
    EXPECT_EQ(window.findChild<QLineEdit*>("edLogFile")->text().toStdString(),
              state + "/quenby/quenby.log");
    EXPECT_TRUE(window.close());
    EXPECT_EQ(console.IniFileName, config + "/quenby/quenby.ini");
  }
  EXPECT_EQ(access((config + "/quenby/quenby.ini").c_str(), R_OK), 0);
  std::remove((config + "/quenby/quenby.ini").c_str());
  if (folder != "/proc") {
    rmdir(folder.c_str());
  }
}

TEST(WindowProgram, OpensTheWindowWithTheOptionsAutoStartsAndSavesOnAStopSignal) {
  TempDir dir;
  dir.Write("site/index.htm", "home");
  dir.Write("quenby.ini", "[Setup]\r\nAutoStart=TRUE\r\n");
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  environment.emplace_back("QT_QPA_PLATFORM=offscreen");
  TQuenbyProcess quenby(
      {"--settings", dir.FilePath("quenby.ini"), "--host", "127.0.0.1", "--port", "0", "--root",
       dir.FilePath("site"), "--log", "--log-file", dir.FilePath("quenby.log")},
      &environment);
  // The window's auto start logs its line about a second after start-up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WindowWaitMs);
  while (!(dir.Exists("quenby.log") &&
           dir.Read("quenby.log").find("Started at:") != std::string::npos) &&
         std::chrono::steady_clock::now() < deadline) {
    QTest::qWait(20);
  }
  // The window comes from the library beside the executable of the build tree.
  EXPECT_THAT(
      quenby.MappedFiles(),
      Contains(
          std::filesystem::path(QUENBY_EXECUTABLE).replace_filename("quenby-window.so").string()));
  EXPECT_EQ(quenby.Stop(), 0) << quenby.Err();
  const std::vector<std::string> entries = LogEntryTexts(dir.Read("quenby.log"));
  EXPECT_THAT(entries, ElementsAre(StartsWith("Started at:"), StartsWith("Stopped at:")));
  const std::string saved = dir.Read("quenby.ini");
  EXPECT_EQ(saved, "[Setup]\nAutoStart=TRUE\nHost=127.0.0.1\nPort=0\nRoot=" + dir.FilePath("site") +
                       "\nIndex=index.htm\nLogFile=" + dir.FilePath("quenby.log") +
                       "\nEnableLog=TRUE\n")
      << "the file's own keys keep their place, the options' values are saved";
}

}  // namespace
}  // namespace quenby::test

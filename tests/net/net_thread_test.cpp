#include "net/net_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <set>
#include <string>

#include "net/net_exceptions.h"
#include "net/thread_mgr.h"
#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::WaitUntil;
using ::testing::ThrowsMessage;

struct Counters {
  std::atomic<int> prepare_runs{0};
  std::atomic<int> runs{0};
  std::atomic<int> finish_runs{0};
  std::atomic<int> cleanups{0};
  std::atomic<int> exceptions{0};
  std::atomic<bool> fail{false};
  std::atomic<bool> gate_open{true};
};

class CountingThread : public TNetThread {
 public:
  explicit CountingThread(std::shared_ptr<Counters> counters) : counters_(std::move(counters)) {
    OnThreadException = [c = counters_](TNetThread&, const std::exception&) { ++c->exceptions; };
  }
  ~CountingThread() override { EndThread(); }

 protected:
  void PrepareRun() override { ++counters_->prepare_runs; }
  void RunOnce() override {
    ++counters_->runs;
    if (counters_->fail)
      throw ENetException("boom");
    while (!counters_->gate_open && SleepUnlessStopped(1)) {
    }
    SleepUnlessStopped(1);
  }
  void FinishRun() override { ++counters_->finish_runs; }
  void CleanupRun() override {
    TNetThread::CleanupRun();
    ++counters_->cleanups;
  }

 private:
  std::shared_ptr<Counters> counters_;
};

TEST(NetThreadTest, CreatedSuspendedStartsStopsParksAndTerminates) {
  auto counters = std::make_shared<Counters>();
  CountingThread thread(counters);
  EXPECT_TRUE(thread.Suspended());
  EXPECT_TRUE(thread.IsStopped());
  EXPECT_EQ(counters->runs, 0);

  thread.Start();
  ASSERT_TRUE(WaitUntil([&] { return counters->runs > 0; }));
  thread.StopKind = skSuspend;
  thread.Stop();
  ASSERT_TRUE(WaitUntil([&] { return thread.Suspended(); }));
  EXPECT_FALSE(thread.Terminated());
  EXPECT_EQ(counters->finish_runs, 1);

  thread.Start();  // resumes: PrepareRun runs again
  ASSERT_TRUE(WaitUntil([&] { return counters->prepare_runs == 2; }));
  thread.Terminate();
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(counters->cleanups, 2);
  EXPECT_EQ(thread.TerminatingClass(), "");
}

TEST(NetThreadTest, AnExceptionIsRecordedReportedOnceAndEndsTheThread) {
  auto counters = std::make_shared<Counters>();
  counters->fail = true;
  CountingThread thread(counters);
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(counters->runs, 1);
  EXPECT_EQ(counters->exceptions, 1);
  EXPECT_EQ(counters->finish_runs, 1);
  EXPECT_EQ(counters->cleanups, 1);
  EXPECT_EQ(thread.TerminatingClass(), "ENetException");
  EXPECT_EQ(thread.TerminatingMessage(), "boom");
  EXPECT_TRUE(thread.Terminated());
}

// A thread whose hooks log their calls and raise when named in `failing`. One unit of work.
class ScriptedThread : public TNetThread {
 public:
  explicit ScriptedThread(std::set<std::string> failing) : failing_(std::move(failing)) {}
  ~ScriptedThread() override { EndThread(); }
  std::string Log() const { return log_; }  // once the thread has ended

 protected:
  void PrepareExecute() override { Step("PrepareExecute"); }
  void PrepareRun() override { Step("PrepareRun"); }
  void RunOnce() override {
    Step("RunOnce");
    Stop();
  }
  void FinishRun() override { Step(Terminated() ? "FinishRun" : "FinishRun (not terminated)"); }
  void CleanupRun() override {
    TNetThread::CleanupRun();
    Step("CleanupRun");
  }
  void FinishExecute() override { Step("FinishExecute"); }
  void NotifyException(const std::exception& e) override {
    Step(std::string("report ") + e.what());
  }

 private:
  void Step(const std::string& hook) {
    log_ += (log_.empty() ? "" : ", ") + hook;
    if (failing_.count(hook) != 0)
      throw ENetException(hook + " failed");
  }
  std::set<std::string> failing_;
  std::string log_;
};

// Every finishing hook runs once, also after a failure; a hook that raises while another
// failure travels replaces it, and only the last one is recorded and reported.
TEST(NetThreadTest, HooksRunInOrderAndTheLastFailureIsRecorded) {
  struct Case {
    std::set<std::string> failing;
    std::string log;
    std::string recorded;
  };
  const std::string round =
      "PrepareExecute, PrepareRun, RunOnce, FinishRun, CleanupRun, FinishExecute";
  const Case cases[] = {
      {{}, round, ""},
      {{"RunOnce"}, round + ", report RunOnce failed", "RunOnce failed"},
      {{"FinishRun"}, round + ", report FinishRun failed", "FinishRun failed"},
      {{"RunOnce", "FinishRun"}, round + ", report FinishRun failed", "FinishRun failed"},
      {{"RunOnce", "CleanupRun"}, round + ", report CleanupRun failed", "CleanupRun failed"},
      {{"RunOnce", "FinishRun", "CleanupRun", "FinishExecute"},
       round + ", report FinishExecute failed",
       "FinishExecute failed"},
      {{"PrepareRun"},
       "PrepareExecute, PrepareRun, CleanupRun, FinishExecute, report PrepareRun failed",
       "PrepareRun failed"},
      {{"PrepareExecute"},
       "PrepareExecute, FinishExecute, report PrepareExecute failed",
       "PrepareExecute failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    ScriptedThread thread(c.failing);
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(thread.Log(), c.log);
    EXPECT_EQ(thread.TerminatingMessage(), c.recorded);
    EXPECT_TRUE(thread.Terminated());
  }
}

TEST(NetThreadTest, StartOnATerminatedThreadEndsAtOnce) {
  auto counters = std::make_shared<Counters>();
  CountingThread thread(counters);
  thread.Terminate();
  thread.Start();
  EXPECT_TRUE(thread.IsStopped());
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(counters->runs, 0);
}

TEST(NetThreadTest, ASelfFreeingThreadRefusesTerminateAndWaitForAndFreesItself) {
  const int live_before = TNetThread::LiveThreadCount();
  auto counters = std::make_shared<Counters>();
  counters->gate_open = false;
  auto owned = std::make_unique<CountingThread>(counters);
  TNetThread* thread = owned.get();
  thread->Start();
  ASSERT_TRUE(WaitUntil([&] { return counters->runs > 0; }));
  TNetThread::FreeOnTerminate(std::move(owned));
  EXPECT_THAT([&] { thread->TerminateAndWaitFor(); },
              ThrowsMessage<EThreadTerminateAndWaitFor>(
                  "Cannot call TerminateAndWaitFor on FreeAndTerminate threads"));
  thread->Terminate();
  EXPECT_TRUE(WaitUntil([&] { return TNetThread::LiveThreadCount() == live_before; }));
}

TEST(ThreadMgrTest, MakeThreadNeedsAThreadClass) {
  TThreadMgrDefault manager;
  EXPECT_THAT([&] { manager.AcquireThread(); },
              ThrowsMessage<EThreadClassNotSpecified>("Thread Class Not Specified."));
}

TEST(ThreadMgrTest, ReturnedThreadsAreFreedRunningOrNot) {
  const int live_before = TNetThread::LiveThreadCount();
  auto counters = std::make_shared<Counters>();
  TThreadMgrDefault manager;
  manager.ThreadClass = [counters] { return std::make_unique<CountingThread>(counters); };

  TNetThread* never_started = manager.AcquireThread();
  EXPECT_EQ(manager.ManagedCount(), 1);
  manager.ReturnThread(never_started);
  EXPECT_EQ(manager.ManagedCount(), 0);
  EXPECT_EQ(counters->runs, 0);
  EXPECT_EQ(TNetThread::LiveThreadCount(), live_before);

  TNetThread* running = manager.AcquireThread();
  running->Start();
  ASSERT_TRUE(WaitUntil([&] { return counters->runs > 0; }));
  manager.ReturnThread(running);  // terminated, waited for and freed
  EXPECT_EQ(counters->cleanups, 1);
  EXPECT_EQ(TNetThread::LiveThreadCount(), live_before);

  CountingThread stranger(counters);
  manager.ReturnThread(&stranger);  // not listed: ignored, not freed
  EXPECT_TRUE(stranger.Suspended());
}

}  // namespace
}  // namespace quenby

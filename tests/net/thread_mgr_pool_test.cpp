#include "net/thread_mgr_pool.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "net/server_io_handler.h"
#include "net/tcp_server.h"
#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::TLoopbackClient;
using test::WaitUntil;

// What one connection set up in its thread's Data; a reused thread must start without it.
struct TConnectionMark : TThreadData {
  explicit TConnectionMark(int number) : Number(number) {}
  int Number;
};

class ThreadMgrPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline_ = TNetThread::LiveThreadCount();
    server_ = std::make_unique<TTCPServer>();
    TSocketHandle& binding = server_->Bindings().Add();
    binding.IP = "127.0.0.1";
    binding.Port = 0;
    server_->ListenQueue = 200;
    server_->TerminateWaitTime = 50000;
    server_->OnConnect = [this](TPeerThread& thread) {
      // A thread that still holds a connection, Data or stop flag from before would fail
      // here or never reach the execute handler.
      if (thread.Data != nullptr || thread.Connection() == nullptr || thread.IsStopped())
        stale_starts_++;
      thread.Data = std::make_unique<TConnectionMark>(++connections_);
    };
    server_->OnExecute = [this](TPeerThread& thread) {
      TTCPConnection& connection = *thread.Connection();
      const std::string line = connection.ReadLine();
      if (line == "fail")
        throw std::runtime_error("failed on purpose");
      {
        std::lock_guard<std::mutex> guard(lock_);
        os_threads_.insert(pthread_self());
      }
      const int mark = static_cast<TConnectionMark&>(*thread.Data).Number;
      connection.WriteLine(line + " on connection " + std::to_string(mark));
    };
    server_->OnException = [](TPeerThread&, const std::exception&) {};
  }
  void TearDown() override {
    if (server_)
      server_->SetActive(false);
  }
  void UsePool(int idle_limit) {
    pool_ = std::make_shared<TThreadMgrPool>(idle_limit);
    server_->SetThreadMgr(pool_);
  }
  int Port() { return server_->Bindings()[0].Port; }
  std::string Ask(TLoopbackClient& client, const std::string& line) {
    client.Send(line + "\r\n");
    return client.ReceiveLine();
  }
  std::size_t OsThreadsSeen() {
    std::lock_guard<std::mutex> guard(lock_);
    return os_threads_.size();
  }

  int baseline_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<int> stale_starts_{0};
  std::mutex lock_;
  std::set<pthread_t> os_threads_;
  std::shared_ptr<TThreadMgrPool> pool_;
  std::unique_ptr<TTCPServer> server_;
};

TEST_F(ThreadMgrPoolTest, AReusedThreadStartsItsNextConnectionFresh) {
  UsePool(4);
  server_->SetActive(true);
  for (int i = 1; i <= 3; ++i) {
    TLoopbackClient client(Port());
    EXPECT_EQ(Ask(client, "hello"), "hello on connection " + std::to_string(i) + "\r\n");
    client.Close();
    ASSERT_TRUE(WaitUntil([&] { return pool_->IdleCount() == 1; }));
  }
  EXPECT_EQ(OsThreadsSeen(), 1u);  // one OS thread served all three connections
  EXPECT_EQ(stale_starts_, 0);
  EXPECT_EQ(pool_->ManagedCount(), 0);
  EXPECT_EQ(server_->PeerThreadCount(), 0);
}

TEST_F(ThreadMgrPoolTest, StopEndsEveryPooledThreadAndAStartServesAgain) {
  UsePool(8);
  server_->SetActive(true);
  {
    std::vector<std::unique_ptr<TLoopbackClient>> clients;
    for (int i = 0; i < 5; ++i)
      clients.push_back(std::make_unique<TLoopbackClient>(Port()));
    for (auto& client : clients)
      EXPECT_NE(Ask(*client, "hi").find("hi on connection"), std::string::npos);
  }
  ASSERT_TRUE(WaitUntil([&] { return pool_->IdleCount() == 5; }));
  server_->SetActive(false);
  EXPECT_EQ(pool_->IdleCount(), 0);
  EXPECT_TRUE(WaitUntil([&] { return TNetThread::LiveThreadCount() == baseline_; }));

  server_->SetActive(true);
  TLoopbackClient client(Port());
  EXPECT_EQ(Ask(client, "again"), "again on connection 6\r\n");
  client.Close();
  EXPECT_TRUE(WaitUntil([&] { return pool_->IdleCount() == 1; }));
  EXPECT_EQ(stale_starts_, 0);
}

TEST_F(ThreadMgrPoolTest, FailedThreadsAndThreadsBeyondTheLimitAreNotKept) {
  UsePool(2);
  server_->SetActive(true);
  {
    TLoopbackClient failing(Port());
    failing.Send("fail\r\n");
    EXPECT_TRUE(failing.WaitForClose());
  }
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 0; }));
  EXPECT_EQ(pool_->IdleCount(), 0);  // the exception ended that thread

  {
    std::vector<std::unique_ptr<TLoopbackClient>> clients;
    for (int i = 0; i < 4; ++i)
      clients.push_back(std::make_unique<TLoopbackClient>(Port()));
    for (auto& client : clients)
      EXPECT_NE(Ask(*client, "x").find("x on connection"), std::string::npos);
  }
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 0; }));
  // The listener and the two kept threads are all that stay alive.
  EXPECT_TRUE(WaitUntil([&] { return TNetThread::LiveThreadCount() == baseline_ + 3; }));
  EXPECT_EQ(pool_->IdleCount(), 2);
}

TEST_F(ThreadMgrPoolTest, ManyClientsThroughASmallPool) {
  constexpr int Rounds = 20;
  constexpr int ClientsPerRound = 10;
  UsePool(4);
  server_->SetActive(true);
  for (int round = 0; round < Rounds; ++round) {
    std::vector<std::unique_ptr<TLoopbackClient>> clients;
    for (int i = 0; i < ClientsPerRound; ++i)
      clients.push_back(std::make_unique<TLoopbackClient>(Port()));
    for (auto& client : clients)
      EXPECT_NE(Ask(*client, "ping").find("ping on connection"), std::string::npos);
  }
  EXPECT_EQ(connections_, Rounds * ClientsPerRound);
  EXPECT_EQ(stale_starts_, 0);
  server_.reset();  // the server's stop ends the pool's threads; the pool outlives it
  EXPECT_EQ(pool_->IdleCount(), 0);
  EXPECT_TRUE(WaitUntil([&] { return TNetThread::LiveThreadCount() == baseline_; }));
}

// A listener that accepts the first connection only, so that later clients wait until a
// peer thread whose connection ended takes them.
class TFirstOnlyIOHandler : public TServerIOHandlerSocket {
 public:
  std::unique_ptr<TIOHandler> AcceptConnection(TSocketHandle& listening,
                                               TNetThread* thread) override {
    if (!accepted_.exchange(true))
      return TServerIOHandlerSocket::AcceptConnection(listening, thread);
    while (!thread->IsStopped())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return nullptr;
  }

 private:
  std::atomic<bool> accepted_{false};
};

TEST_F(ThreadMgrPoolTest, AThreadWhoseConnectionEndsTakesTheNextWaitingOneFresh) {
  UsePool(4);
  TFirstOnlyIOHandler handler;
  server_->SetIOHandler(&handler);
  server_->SetActive(true);
  TLoopbackClient first(Port());
  EXPECT_EQ(Ask(first, "one"), "one on connection 1\r\n");
  TLoopbackClient second(Port());  // waits: the listener takes no more
  first.Close();
  EXPECT_EQ(Ask(second, "two"), "two on connection 2\r\n");
  TLoopbackClient third(Port());
  EXPECT_EQ(Ask(second, "again"), "again on connection 2\r\n");
  second.Close();
  EXPECT_EQ(Ask(third, "three"), "three on connection 3\r\n");
  EXPECT_EQ(OsThreadsSeen(), 1u);
  EXPECT_EQ(stale_starts_, 0);
  EXPECT_EQ(server_->PeerThreadCount(), 1);
  third.Close();
  EXPECT_TRUE(WaitUntil([&] { return pool_->IdleCount() == 1; })) << "none waits: it parks";
  EXPECT_EQ(server_->PeerThreadCount(), 0);

  TLoopbackClient unserved(Port());
  server_->SetActive(false);
  EXPECT_TRUE(unserved.WaitForClose()) << "a client still waiting is closed by the stop";
  EXPECT_EQ(pool_->IdleCount(), 0);
  EXPECT_TRUE(WaitUntil([&] { return TNetThread::LiveThreadCount() == baseline_; }));
}

TEST(ThreadMgrPoolAloneTest, ThreadsReturnedByAnotherThreadAreFreedUnstarted) {
  TThreadMgrPool pool;
  pool.ThreadClass = [] { return std::make_unique<TPeerThread>(); };
  TNetThread* thread = pool.AcquireThread();
  EXPECT_EQ(thread->StopKind, skSuspend);
  EXPECT_EQ(pool.ManagedCount(), 1);
  pool.ReturnThread(thread);
  EXPECT_EQ(pool.ManagedCount(), 0);
  EXPECT_EQ(pool.IdleCount(), 0);
}

}  // namespace
}  // namespace quenby

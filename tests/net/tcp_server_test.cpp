#include "net/tcp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::TLoopbackClient;
using test::WaitUntil;
using ::testing::ThrowsMessage;
using namespace std::chrono_literals;

// Records the events of a server; every member is safe to touch from peer threads.
struct EventLog {
  std::mutex lock;
  std::vector<std::string> events;
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(event);
  }
  std::vector<std::string> Snapshot() {
    std::lock_guard<std::mutex> guard(lock);
    return events;
  }
};

class TCPServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<TTCPServer>();
    TSocketHandle& binding = server_->Bindings().Add();
    binding.IP = "127.0.0.1";
    binding.Port = 0;
    server_->OnConnect = [this](TPeerThread&) { log_.Add("connect"); };
    server_->OnDisconnect = [this](TPeerThread&) { log_.Add("disconnect"); };
    server_->OnException = [this](TPeerThread&, const std::exception& e) {
      log_.Add(std::string("exception ") + ExceptionClassName(e) + ": " + e.what());
    };
  }
  void TearDown() override {
    if (server_) {
      server_->SetActive(false);
    }
  }
  void UseEcho() {
    server_->OnExecute = [](TPeerThread& thread) {
      TTCPConnection& connection = *thread.Connection();
      connection.WriteLine("echo " + connection.ReadLine());
    };
  }
  int Port() { return server_->Bindings()[0].Port; }

  EventLog log_;
  std::unique_ptr<TTCPServer> server_;
};

TEST_F(TCPServerTest, PortZeroBindsAChosenPortAndServesEcho) {
  UseEcho();
  server_->SetActive(true);
  EXPECT_TRUE(server_->Active());
  ASSERT_GT(Port(), 0);
  server_->SetActive(true);  // unchanged: nothing happens
  EXPECT_EQ(server_->ListenerThreadCount(), 1);

  TLoopbackClient client(Port());
  client.Send("hello\r\n");
  EXPECT_EQ(client.ReceiveLine(), "echo hello\r\n");
  client.Send("again\n");
  EXPECT_EQ(client.ReceiveLine(), "echo again\r\n");
}

// A connection knows the address and port it was reached on, whether the listener was bound
// to that address or to every address.
TEST_F(TCPServerTest, AConnectionKnowsTheAddressItWasReachedOn) {
  for (const char* listen_ip : {"127.0.0.1", "0.0.0.0"}) {
    server_->SetActive(false);
    server_->Bindings()[0].IP = listen_ip;
    server_->Bindings()[0].Port = 0;
    server_->OnExecute = [](TPeerThread& thread) {
      TTCPConnection& connection = *thread.Connection();
      connection.ReadLine();
      const TSocketHandle* binding = connection.SocketBinding();
      connection.WriteLine(binding->IP + ":" + std::to_string(binding->Port));
    };
    server_->SetActive(true);
    TLoopbackClient client(Port());
    client.Send("where\n");
    EXPECT_EQ(client.ReceiveLine(), "127.0.0.1:" + std::to_string(Port()) + "\r\n") << listen_ip;
  }
}

// With accepts deferred, a connection reaches a thread once its first bytes are there; one
// that stays silent is still taken, after about the deferral.
TEST_F(TCPServerTest, DeferredAcceptsWaitForTheFirstBytesButLoseNoConnection) {
  UseEcho();
  server_->DeferAccept = 1;
  server_->SetActive(true);
  TLoopbackClient speaking(Port());
  TLoopbackClient silent(Port());
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(log_.Snapshot().empty()) << "no connection was taken before it spoke";
  speaking.Send("hello\n");
  EXPECT_EQ(speaking.ReceiveLine(), "echo hello\r\n");
  EXPECT_TRUE(WaitUntil([&] { return log_.Snapshot().size() == 2; }, 10s))
      << "the silent client is taken too";
  silent.Send("late\n");
  EXPECT_EQ(silent.ReceiveLine(), "echo late\r\n");
}

TEST_F(TCPServerTest, AQuickCloseGivesConnectOneReportAndDisconnect) {
  server_->OnExecute = [](TPeerThread& thread) { thread.Connection()->ReadLine(); };
  server_->SetActive(true);
  { TLoopbackClient client(Port()); }
  ASSERT_TRUE(WaitUntil([&] { return log_.Snapshot().size() == 3; }));
  EXPECT_EQ(log_.Snapshot(),
            (std::vector<std::string>{"connect",
                                      "exception EConnClosedGracefully: Connection Closed "
                                      "Gracefully.",
                                      "disconnect"}));
  EXPECT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 0; }));
}

TEST_F(TCPServerTest, OtherExceptionsAreReportedOnceAndEndTheConnection) {
  server_->OnExecute = [](TPeerThread&) { throw ENetException("handler failed"); };
  server_->SetActive(true);
  TLoopbackClient client(Port());
  EXPECT_TRUE(client.WaitForClose());
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 0; }));
  EXPECT_EQ(log_.Snapshot(),
            (std::vector<std::string>{"connect", "exception ENetException: handler failed",
                                      "disconnect"}));
}

TEST_F(TCPServerTest, WithoutAnExecuteHandlerConnectionsAreClosedWithAReport) {
  server_->SetActive(true);
  TLoopbackClient client(Port());
  EXPECT_TRUE(client.WaitForClose());
  ASSERT_TRUE(WaitUntil([&] { return log_.Snapshot().size() == 3; }));
  EXPECT_EQ(log_.Snapshot()[1], "exception ENoExecuteSpecified: No execute handler found.");
}

TEST_F(TCPServerTest, AResetDuringAReadEndsTheThreadInOrder) {
  server_->OnExecute = [](TPeerThread& thread) { thread.Connection()->ReadLine(); };
  server_->SetActive(true);
  TLoopbackClient client(Port());
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 1; }));
  client.Reset();
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 0; }));
  const auto events = log_.Snapshot();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1], "exception ESocketError: Socket Error # 10054\r\nConnection reset by peer.");
}

TEST_F(TCPServerTest, GreetingIsWrittenOnlyWithContent) {
  UseEcho();
  server_->Greeting.SetReply(220, {});
  server_->ReplyTexts.Add(220, {"Welcome"});
  server_->SetActive(true);
  TLoopbackClient greeted(Port());
  EXPECT_EQ(greeted.ReceiveLine(), "220 Welcome\r\n");
  server_->SetActive(false);

  server_->Greeting = TRFCReply();
  server_->SetActive(true);
  TLoopbackClient silent(Port());
  silent.Send("x\n");
  EXPECT_EQ(silent.ReceiveLine(), "echo x\r\n");  // nothing came before the echo
}

TEST_F(TCPServerTest, MaxConnectionsRefusesTheSecondClientWithTheReply) {
  UseEcho();
  server_->MaxConnections = 1;
  server_->MaxConnectionReply.SetReply(503, {"Busy"});
  server_->SetActive(true);
  TLoopbackClient first(Port());
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 1; }));
  TLoopbackClient second(Port());
  EXPECT_EQ(second.ReceiveUntilClose(), "503 Busy\r\n");
  first.Send("still here\n");
  EXPECT_EQ(first.ReceiveLine(), "echo still here\r\n");

  server_->SetActive(false);
  server_->MaxConnectionReply = TRFCReply();
  server_->SetActive(true);
  TLoopbackClient third(Port());
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 1; }));
  TLoopbackClient fourth(Port());
  EXPECT_EQ(fourth.ReceiveUntilClose(), "");
}

TEST_F(TCPServerTest, DeactivationWithIdleClientsEndsEveryThread) {
  UseEcho();
  server_->TerminateWaitTime = 50000;
  server_->SetActive(true);
  std::vector<std::unique_ptr<TLoopbackClient>> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TLoopbackClient>(Port()));
  }
  ASSERT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 5; }));
  server_->SetActive(false);  // would raise "Terminate Thread Timeout" if a thread stayed
  EXPECT_FALSE(server_->Active());
  EXPECT_EQ(server_->PeerThreadCount(), 0);
  EXPECT_EQ(server_->ListenerThreadCount(), 0);
  EXPECT_EQ(server_->ThreadMgr(), nullptr);  // the implicit manager is released
  for (auto& client : clients) {
    EXPECT_TRUE(client->WaitForClose());
  }
}

TEST_F(TCPServerTest, AThreadThatIgnoresTheDropTimesOutAndIsWaitedForLater) {
  std::mutex lock;
  std::condition_variable released_cv;
  bool released = false;
  std::atomic<bool> entered{false};
  server_->OnExecute = [&](TPeerThread& thread) {
    std::unique_lock<std::mutex> guard(lock);
    entered = true;
    released_cv.wait(guard, [&] { return released; });
    thread.Connection()->Disconnect();
  };
  server_->TerminateWaitTime = 300;
  server_->SetActive(true);
  TLoopbackClient client(Port());
  ASSERT_TRUE(WaitUntil([&] { return entered.load(); }));
  EXPECT_THAT([&] { server_->SetActive(false); },
              ThrowsMessage<ETerminateThreadTimeout>("Terminate Thread Timeout"));
  EXPECT_TRUE(server_->Active());
  EXPECT_EQ(server_->ListenerThreadCount(), 0);
  {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
  }
  released_cv.notify_all();
  server_->TerminateWaitTime = 50000;
  server_->SetActive(false);
  EXPECT_FALSE(server_->Active());
}

TEST_F(TCPServerTest, DestroyingTheServerWaitsForLateThreads) {
  std::atomic<bool> release{false};
  std::atomic<bool> entered{false};
  server_->OnExecute = [&](TPeerThread& thread) {
    entered = true;
    while (!release) {
      std::this_thread::yield();
    }
    thread.Connection()->Disconnect();
  };
  server_->TerminateWaitTime = 1;
  server_->SetActive(true);
  TLoopbackClient client(Port());
  ASSERT_TRUE(WaitUntil([&] { return entered.load(); }));
  EXPECT_THROW(server_->SetActive(false), ETerminateThreadTimeout);
  std::thread releaser([&] { release = true; });
  server_.reset();  // returns only once the late thread has left the server
  releaser.join();
}

TEST_F(TCPServerTest, TwoHundredConcurrentEchoClients) {
  constexpr int Clients = 200;
  UseEcho();
  server_->ListenQueue = Clients;
  server_->SetActive(true);
  std::vector<std::unique_ptr<TLoopbackClient>> clients;
  for (int i = 0; i < Clients; ++i) {
    clients.push_back(std::make_unique<TLoopbackClient>(Port()));
  }
  for (int i = 0; i < Clients; ++i) {
    clients[i]->Send("client " + std::to_string(i) + "\r\n");
  }
  for (int i = 0; i < Clients; ++i) {
    EXPECT_EQ(clients[i]->ReceiveLine(), "echo client " + std::to_string(i) + "\r\n");
  }
  EXPECT_EQ(server_->PeerThreadCount(), Clients);
  clients.clear();
  EXPECT_TRUE(WaitUntil([&] { return server_->PeerThreadCount() == 0; }));
}

// Out of descriptors, the listener waits and tries again instead of spinning on the pending
// connection, reports the burst once, and serves the waiting clients once descriptors free up.
TEST_F(TCPServerTest, RunningOutOfDescriptorsBacksOffReportsOnceAndRecovers) {
#if defined(__SANITIZE_ADDRESS__)
  // The undefined-behaviour checker built with it probes memory through a pipe before it
  // trusts an object's type; in a process without descriptors that probe fails and every
  // exception the listener raises is reported as an object of the wrong type.
  GTEST_SKIP() << "needs free descriptors in the sanitizer runtime";
#endif
  UseEcho();
  std::mutex lock;
  std::vector<std::string> reports;
  server_->OnListenException = [&](TListenerThread&, const std::exception& e) {
    std::lock_guard<std::mutex> guard(lock);
    reports.push_back(ExceptionClassName(e) + ": " + e.what());
  };
  server_->SetActive(true);
  constexpr int Clients = 3;
  std::vector<int> clients;
  for (int i = 0; i < Clients; ++i) {
    clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const timeval wait{10, 0};  // a listener that never recovers fails the test, not hangs it
    ::setsockopt(clients.back(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  }

  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  rlimit lowered = original;
  lowered.rlim_cur = std::min<rlim_t>(original.rlim_cur, 256);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::vector<int> fillers;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
    fillers.push_back(fd);
  ASSERT_EQ(errno, EMFILE);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int client : clients)
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return !reports.empty();
  }));
  std::this_thread::sleep_for(300ms);  // several back-off rounds; a spinning listener reports on
  {
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("ESocketError"), std::string::npos) << reports[0];
  }

  for (int fd : fillers)
    ::close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  for (int i = 0; i < Clients; ++i) {
    const std::string line = "client " + std::to_string(i) + "\r\n";
    ASSERT_EQ(::send(clients[i], line.data(), line.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(line.size()));
    std::string reply;
    char c = 0;
    while (reply.find('\n') == std::string::npos && ::recv(clients[i], &c, 1, 0) == 1)
      reply += c;
    EXPECT_EQ(reply, "echo " + line);
    ::close(clients[i]);
  }
  TLoopbackClient after(Port());
  after.Send("after\r\n");
  EXPECT_EQ(after.ReceiveLine(), "echo after\r\n");
}

// A peer thread whose stack cannot be mapped: starting it fails as it does when the system
// is out of threads or memory.
class TStarvedPeerThread : public TPeerThread {
 public:
  TStarvedPeerThread() { StackSize = std::size_t{1} << 50; }  // beyond any address space
};

// Makes starved threads while `starve` is set.
class TStarvingThreadMgr : public TThreadMgrDefault {
 public:
  std::atomic<bool> starve{true};
  std::unique_ptr<TNetThread> MakeThread() override {
    if (starve)
      return std::make_unique<TStarvedPeerThread>();
    return TThreadMgrDefault::MakeThread();
  }
};

TEST_F(TCPServerTest, AConnectionWithoutAThreadIsClosedAndCountedAndTheListenerGoesOn) {
  UseEcho();
  auto manager = std::make_shared<TStarvingThreadMgr>();
  server_->SetThreadMgr(manager);
  std::mutex lock;
  std::vector<std::string> reports;
  server_->OnListenException = [&](TListenerThread&, const std::exception& e) {
    std::lock_guard<std::mutex> guard(lock);
    reports.push_back(ExceptionClassName(e) + ": " + e.what());
  };
  server_->SetActive(true);
  for (int i = 0; i < 2; ++i) {
    TLoopbackClient refused(Port());
    const timeval wait{10, 0};  // a connection left open fails the test, not hangs it
    ::setsockopt(refused.Handle(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    char byte = 0;
    EXPECT_LE(::recv(refused.Handle(), &byte, 1, 0), 0) << "the connection must be closed";
  }
  EXPECT_TRUE(WaitUntil([&] { return server_->UnservedConnectionCount() == 2; }));
  {
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(reports.size(), 1u) << "one report per burst";
    EXPECT_THAT(reports[0], testing::StartsWith("EInOutError"));
  }
  EXPECT_EQ(server_->PeerThreadCount(), 0);

  manager->starve = false;
  TLoopbackClient served(Port());
  served.Send("fed\r\n");
  EXPECT_EQ(served.ReceiveLine(), "echo fed\r\n");
  EXPECT_EQ(server_->UnservedConnectionCount(), 2);
}

TEST_F(TCPServerTest, TheServerCanListenAgainOnItsPortAfterServing) {
  UseEcho();
  server_->SetActive(true);
  const int port = Port();
  {
    TLoopbackClient client(port);
    client.Send("x\n");
    EXPECT_EQ(client.ReceiveLine(), "echo x\r\n");
    server_->SetActive(false);  // the server closes first: its side keeps TIME_WAIT
  }
  server_->SetActive(true);
  EXPECT_EQ(Port(), port);
}

class TCPServerBindTest : public ::testing::Test {
 protected:
  TTCPServer first_;
  TTCPServer second_;
};

TEST_F(TCPServerBindTest, ASecondServerOnTheSamePortFailsAndClosesItsEarlierBindings) {
  TSocketHandle& taken = first_.Bindings().Add();
  taken.IP = "127.0.0.1";
  first_.SetActive(true);

  TSocketHandle& fine = second_.Bindings().Add();
  fine.IP = "127.0.0.1";
  TSocketHandle& clash = second_.Bindings().Add();
  clash.IP = "127.0.0.1";
  clash.Port = taken.Port;
  EXPECT_THAT([&] { second_.SetActive(true); },
              ThrowsMessage<ECouldNotBindSocket>(
                  "Could not bind socket. Address and port are already in use."));
  EXPECT_FALSE(second_.Active());
  EXPECT_FALSE(second_.Bindings()[0].HasSocket());
  first_.SetActive(false);
}

TEST_F(TCPServerBindTest, PortsAndAddressesAreCheckedBeforeBinding) {
  TSocketHandle& binding = first_.Bindings().Add();
  binding.IP = "127.0.0.1";
  binding.Port = 65536;
  EXPECT_THAT([&] { first_.SetActive(true); },
              ThrowsMessage<EInvalidPortRange>("Invalid Port Range (65536 - 65536)"));
  EXPECT_FALSE(first_.Active());

  binding.Port = 0;
  binding.IP = "256.1.1.1";
  EXPECT_THAT([&] { first_.SetActive(true); },
              ThrowsMessage<EInvalidIPAddress>("256.1.1.1 is not a valid IP address."));

  binding.IP = "127.0.0.1";
  binding.ClientPortMin = 5001;
  binding.ClientPortMax = 5000;
  EXPECT_THAT([&] { first_.SetActive(true); },
              ThrowsMessage<EInvalidPortRange>("Invalid Port Range (5001 - 5000)"));
  EXPECT_FALSE(first_.Active());
}

TEST_F(TCPServerBindTest, APortRangeBindsFromTheTopAndFailsWhenAllAreTaken) {
  TSocketHandle& taken = first_.Bindings().Add();
  taken.IP = "127.0.0.1";
  first_.SetActive(true);
  const int port = taken.Port;

  TSocketHandle& ranged = second_.Bindings().Add();
  ranged.IP = "127.0.0.1";
  ranged.ClientPortMin = port;
  ranged.ClientPortMax = port;
  EXPECT_THAT(
      [&] { second_.SetActive(true); },
      ThrowsMessage<ECanNotBindPortInRange>("Can not bind in port range (" + std::to_string(port) +
                                            " - " + std::to_string(port) + ")"));
  first_.SetActive(false);
  ranged.Port = 0;
  second_.SetActive(true);
  EXPECT_EQ(ranged.Port, port);
}

TEST(SocketHandlesTest, NewBindingsStartWithTheDefaultPortAndCopiesKeepAddresses) {
  TSocketHandles bindings;
  bindings.DefaultPort = 8080;
  TSocketHandle& item = bindings.Add();
  EXPECT_EQ(item.Port, 8080);
  item.IP = "127.0.0.1";
  item.RemoteIP = "10.0.0.1";
  TSocketHandles copy;
  copy.Assign(bindings);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy[0].IP, "127.0.0.1");
  EXPECT_EQ(copy[0].RemoteIP, "10.0.0.1");
  EXPECT_EQ(copy[0].Index(), 0);
  EXPECT_FALSE(copy[0].HasSocket());
}

}  // namespace
}  // namespace quenby

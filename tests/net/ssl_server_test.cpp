// The TLS server handler attached to a real server on 127.0.0.1: handshakes, what clients
// that do not speak TLS (or say nothing) get, a stop during a handshake, peer verification,
// file sending and many clients at once.
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/server_io_handler_ssl.h"
#include "net/tcp_server.h"
#include "support/net_loopback.h"
#include "support/temp_dir.h"
#include "support/tls_client.h"

namespace quenby {
namespace {

using test::TLoopbackClient;
using test::TTLSTestClient;
using test::WaitUntil;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using namespace std::chrono_literals;

constexpr const char* AcceptFailure = "EOSSLAcceptError: Error accepting connection with SSL.";

// Texts recorded from several threads.
class TLines {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back(line);
  }
  std::vector<std::string> Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

// Descriptors the process holds.
int OpenDescriptorCount() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder) != nullptr)
      ++count;
    closedir(folder);
  }
  return count;
}

class SSLServerTest : public ::testing::Test {
 protected:
  SSLServerTest() : certificate_(test::MakeTestCertificate(dir_)) {
    handler_.SSLOptions.CertFile = certificate_.CertFile;
    handler_.SSLOptions.KeyFile = certificate_.KeyFile;
    TSocketHandle& binding = server_.Bindings().Add();
    binding.IP = "127.0.0.1";
    binding.Port = 0;
    server_.SetIOHandler(&handler_);
    server_.OnException = [this](TPeerThread&, const std::exception& e) {
      exceptions_.Add(ExceptionClassName(e) + ": " + e.what());
    };
    // One line in, its echo out, then the connection ends.
    server_.OnExecute = [](TPeerThread& thread) {
      TTCPConnection& connection = *thread.Connection();
      connection.WriteLine("echo " + connection.ReadLine());
      connection.Disconnect();
    };
  }
  ~SSLServerTest() override { server_.SetActive(false); }

  int Port() { return server_.Bindings()[0].Port; }

  TTLSTestClient::TOptions Verified() const {
    TTLSTestClient::TOptions options;
    options.CAFile = certificate_.CertFile;
    return options;
  }

  // One echo over TLS, verified against the test certificate.
  std::string Echo(const std::string& text) {
    TTLSTestClient client(Port(), Verified());
    if (!client.Handshake())
      return "handshake failed: " + client.Error();
    client.Send(text + "\n");
    return client.ReceiveUntilClose();
  }

  test::TempDir dir_;
  test::TTestCertificate certificate_;
  TServerIOHandlerSSL handler_;
  TTCPServer server_;
  TLines exceptions_;
};

TEST_F(SSLServerTest, ServesThroughTLSAndReportsTheCipher) {
  TLines status;
  handler_.OnStatusInfo = [&](const std::string& line) { status.Add(line); };
  server_.SetActive(true);
  EXPECT_EQ(Echo("hello"), "echo hello\r\n");

  ASSERT_TRUE(WaitUntil([&] { return server_.PeerThreadCount() == 0; }));
  const std::vector<std::string> lines = status.Snapshot();
  EXPECT_THAT(lines, Contains(MatchesRegex("SSL status: \".+\"")));
  EXPECT_THAT(lines, Contains(MatchesRegex("Cipher: name = [A-Z0-9_-]+; description = [^;]+; "
                                           "bits = (128|256); version = TLSv1\\.[23]; ")));
}

TEST_F(SSLServerTest, ClientsThatDoNotSpeakTLSEndOnlyTheirConnections) {
  server_.SetActive(true);
  const int descriptors = OpenDescriptorCount();
  {
    TLoopbackClient plain(Port());
    plain.Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(plain.WaitForClose());
  }
  {
    TLoopbackClient leaver(Port());
    leaver.Send(std::string("\x16\x03\x01\x02\x00\x01", 6));  // a handshake cut short
    leaver.Close();
  }
  {
    TLoopbackClient resetter(Port());
    resetter.Reset();
  }
  EXPECT_EQ(Echo("still here"), "echo still here\r\n");
  ASSERT_TRUE(WaitUntil([&] { return server_.PeerThreadCount() == 0; }));
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a failed handshake leaves no descriptor";
  EXPECT_THAT(exceptions_.Snapshot(), ElementsAre(AcceptFailure, AcceptFailure, AcceptFailure));
}

TEST_F(SSLServerTest, ASilentClientIsClosedAfterTheHandshakeTimeOut) {
  // Long enough for the other client's handshake on a loaded machine.
  handler_.HandshakeTimeOut = 2000;
  server_.SetActive(true);
  TLoopbackClient silent(Port());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Echo("meanwhile"), "echo meanwhile\r\n") << "others are served while it waits";
  EXPECT_TRUE(silent.WaitForClose(20s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
  EXPECT_TRUE(WaitUntil([&] { return server_.PeerThreadCount() == 0; }));
  EXPECT_THAT(exceptions_.Snapshot(), ElementsAre(AcceptFailure));
}

TEST_F(SSLServerTest, AStopDoesNotWaitForAPendingHandshake) {
  handler_.HandshakeTimeOut = 60000;
  server_.SetActive(true);
  TLoopbackClient silent(Port());
  ASSERT_TRUE(WaitUntil([&] { return server_.PeerThreadCount() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  server_.SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(server_.PeerThreadCount(), 0);
}

TEST_F(SSLServerTest, OnVerifyPeerDecidesAboutAClientCertificate) {
  const test::TTestCertificate client_certificate = test::MakeClientCertificate(dir_, "client");
  handler_.SSLOptions.RootCertFile = client_certificate.CertFile;
  handler_.SSLOptions.VerifyMode = sslvrfPeer | sslvrfFailIfNoPeerCert;
  std::atomic<bool> agree{false};
  TLines subjects;
  handler_.OnVerifyPeer = [&](const TX509& certificate) {
    subjects.Add(certificate.Subject());
    return agree.load();
  };
  server_.SetActive(true);
  TTLSTestClient::TOptions options = Verified();
  options.CertFile = client_certificate.CertFile;
  options.KeyFile = client_certificate.KeyFile;

  for (const bool agreed : {false, true}) {
    agree = agreed;
    TTLSTestClient client(Port(), options);
    // With TLS 1.3 the client learns of a refusal only when it reads.
    const bool sent = client.Handshake() && client.Send("me\n");
    EXPECT_EQ(sent && client.ReceiveUntilClose() == "echo me\r\n", agreed) << agreed;
  }
  EXPECT_THAT(subjects.Snapshot(), ElementsAre("CN=client", "CN=client"));
  ASSERT_TRUE(WaitUntil([&] { return server_.PeerThreadCount() == 0; }));
  EXPECT_THAT(exceptions_.Snapshot(), ElementsAre(AcceptFailure));

  TTLSTestClient anonymous(Port(), Verified());
  const bool sent = anonymous.Handshake() && anonymous.Send("me\n");
  EXPECT_FALSE(sent && !anonymous.ReceiveUntilClose().empty()) << "a certificate is required";
}

TEST_F(SSLServerTest, AFileSentWithTheKernelsSendAllowedStillGoesThroughTLS) {
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 7 % 251);
  const std::string file = dir_.Write("data.bin", content);
  server_.OnExecute = [file](TPeerThread& thread) {
    TTCPConnection& connection = *thread.Connection();
    connection.ReadLine();
    connection.WriteFileContents(file, true);
    connection.Disconnect();
  };
  server_.SetActive(true);
  TTLSTestClient client(Port(), Verified());
  ASSERT_TRUE(client.Handshake()) << client.Error();
  client.Send("file\n");
  EXPECT_TRUE(client.ReceiveUntilClose() == content) << client.Error();
}

TEST_F(SSLServerTest, FiftyClientsAtOnce) {
  constexpr int Clients = 50;
  handler_.HandshakeTimeOut = 60000;  // fifty handshakes at once may be slow under sanitizers
  server_.SetActive(true);
  std::vector<std::string> answers(Clients);
  std::vector<std::thread> threads;
  for (int i = 0; i < Clients; ++i) {
    threads.emplace_back([&, i] { answers[i] = Echo("client " + std::to_string(i)); });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int i = 0; i < Clients; ++i)
    EXPECT_EQ(answers[i], "echo client " + std::to_string(i) + "\r\n");
  EXPECT_THAT(exceptions_.Snapshot(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace quenby

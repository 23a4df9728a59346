#include "attack/attack_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenby::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view ServingPrefix = "Serving file ";
constexpr std::string_view ServingSizes = " (";
/// Bounds every stop: a thread that a stop cannot free shows as a failed stop, not a hang.
constexpr const char* StopWait = "QUENBY_STOP_WAIT_MS=20000";
constexpr auto SendStall = std::chrono::seconds(5);
constexpr std::size_t ReceiveChunk = 65536;

int WaitMilliseconds(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

TAttackSite::TAttackSite() {
  dir_.Write("site/a.txt", NormalBody);
  dir_.Write("site/index.html", "<p>home</p>");
  dir_.Write("site/sub/page.txt", "page");
  dir_.Write("site/%2e%2e/literal.txt", "literal");
  dir_.Write("site/big.bin", std::string(BigFileSize, 'b'));
  dir_.Write("docs/guide.txt", "guide");
  dir_.Write("secret.txt", SecretText);
  dir_.Write("outside/linked.txt", "linked file");
  dir_.Write("outside/inside.txt", "linked folder");
  fs::create_symlink(dir_.FilePath("outside/linked.txt"), dir_.FilePath("site/linked.txt"));
  fs::create_symlink(dir_.FilePath("outside"), dir_.FilePath("site/linked"));
  fs::create_directories(dir_.FilePath("bin"));
  fs::copy_file(std::string(QUENBY_TEST_MODULE_DIR) + "/hello.dll", dir_.FilePath("bin/hello.dll"));
  fs::copy_file(std::string(QUENBY_TEST_MODULE_DIR) + "/echo.dll", dir_.FilePath("evil.dll"));

  const std::vector<std::string> environment = InheritedEnvironment({StopWait});
  quenby_ = std::make_unique<TQuenbyProcess>(
      std::vector<std::string>{"--headless", "--settings", dir_.FilePath("quenby.ini"), "--host",
                               "127.0.0.1", "--port", "0", "--root", Root(), "--index",
                               "index.html", "--alias", "/docs=" + dir_.FilePath("docs"), "--alias",
                               "/bin=" + dir_.FilePath("bin"), "--log-file",
                               dir_.FilePath("quenby.log"), "--log"},
      &environment);
  port_ = quenby_->WaitForListening();
  EXPECT_GT(port_, 0) << quenby_->Err();
}

TAttackSite::~TAttackSite() = default;

void TAttackSite::ExpectServesNormalPage(const std::string& after) const {
  const TRawReply reply = SendRaw(port_, std::string("GET ") + NormalPath + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(reply.Bytes), "HTTP/1.1 200 OK") << "normal page after " << after;
  EXPECT_EQ(ReplyBodyOf(reply.Bytes), NormalBody) << "normal page after " << after;
}

void TAttackSite::ExpectCleanStop() {
  EXPECT_EQ(quenby_->Stop(), 0) << quenby_->Err();
  EXPECT_THAT(quenby_->OutLines(), testing::Contains(testing::StartsWith("Stopped at:")));
  EXPECT_THAT(quenby_->OutLines(),
              testing::Not(testing::Contains(testing::HasSubstr("ETerminateThreadTimeout"))));
}

std::vector<std::string> TAttackSite::ServedFiles() const {
  std::vector<std::string> files;
  for (const std::string& text : LogEntryTexts(dir_.Read("quenby.log"))) {
    if (text.rfind(ServingPrefix, 0) != 0)
      continue;
    const std::size_t end = text.rfind(ServingSizes);
    files.push_back(text.substr(ServingPrefix.size(), end - ServingPrefix.size()));
  }
  return files;
}

TRawReply SendRaw(int port, const std::string& request, std::chrono::milliseconds timeout) {
  TRawClient client(port);
  EXPECT_TRUE(client.Connected()) << "connect to port " << port;
  client.Send(request);
  TRawReply reply;
  reply.Bytes = client.ReceiveUntilClose(timeout, &reply.Closed);
  return reply;
}

std::string StatusLine(const std::string& reply) {
  const std::size_t end = reply.find("\r\n");
  return end == std::string::npos ? std::string() : reply.substr(0, end);
}

std::string ReplyBodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

TRawClient::TRawClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

TRawClient::~TRawClient() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool TRawClient::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    pollfd entry{fd_, POLLOUT, 0};
    if (::poll(&entry, 1, static_cast<int>(SendStall.count() * 1000)) <= 0)
      return false;
    const ssize_t n =
        ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      continue;
    if (n <= 0)
      return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t TRawClient::SendEndlessly(const std::string& chunk, std::size_t total) {
  std::size_t taken = 0;
  while (taken < total && Send(chunk))
    taken += chunk.size();
  return taken;
}

std::string TRawClient::Receive(std::size_t count, std::chrono::milliseconds timeout) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[ReceiveChunk];
  while (received.size() < count) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, WaitMilliseconds(deadline)) <= 0)
      break;
    const ssize_t n = ::recv(fd_, buffer, std::min(sizeof(buffer), count - received.size()), 0);
    if (n <= 0)
      break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

std::string TRawClient::ReceiveUntilClose(std::chrono::milliseconds timeout, bool* closed) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[ReceiveChunk];
  *closed = false;
  for (;;) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, WaitMilliseconds(deadline)) <= 0)
      return received;
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      *closed = true;
      return received;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
}

void TRawClient::ShutdownSend() {
  ::shutdown(fd_, SHUT_WR);
}

void TRawClient::Reset() {
  linger option{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
  ::close(fd_);
  fd_ = -1;
}

void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace quenby::test

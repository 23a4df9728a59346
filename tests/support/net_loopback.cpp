#include "support/net_loopback.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace quenby::test {

TLoopbackClient::TLoopbackClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0)
      << "connect to port " << port;
}

TLoopbackClient::~TLoopbackClient() {
  Close();
}

void TLoopbackClient::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      ADD_FAILURE() << "client send failed";
      return;
    }
    sent += static_cast<std::size_t>(n);
  }
}

std::string TLoopbackClient::Receive(std::size_t count, std::chrono::milliseconds timeout) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[65536];
  while (received.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    const ssize_t n = ::recv(fd_, buffer, std::min(sizeof(buffer), count - received.size()), 0);
    if (n <= 0) {
      break;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

std::string TLoopbackClient::ReceiveLine(std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (line.empty() || line.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::string one = Receive(1, left);
    if (one.empty()) {
      break;
    }
    line += one;
  }
  return line;
}

std::string TLoopbackClient::ReceiveUntilClose(std::chrono::milliseconds timeout) {
  return Receive(static_cast<std::size_t>(-1) / 2, timeout);
}

bool TLoopbackClient::WaitForClose(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    if (::recv(fd_, buffer, sizeof(buffer), 0) <= 0) {
      return true;
    }
  }
}

void TLoopbackClient::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TLoopbackClient::Reset() {
  linger option{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
  Close();
}

void TLoopbackClient::ShutdownSend() {
  ::shutdown(fd_, SHUT_WR);
}

TLoopbackPair::TLoopbackPair() {
  TSocketHandle listening;
  listening.OpenSocket();
  listening.IP = "127.0.0.1";
  listening.Port = 0;
  listening.BindLocal();
  listening.StartListening(1);
  client = std::make_unique<TLoopbackClient>(listening.Port);
  auto handler = std::make_unique<TIOHandlerSocket>();
  handler->OpenHandler();
  EXPECT_TRUE(handler->SocketBinding()->AcceptFrom(listening));
  server = std::make_unique<TTCPConnection>();
  server->SetIOHandler(std::move(handler));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace quenby::test

// Loopback echo figures of the transport: connections per second (connect, one line, the
// answer, close) and round trips per second on one long-lived connection.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "net/tcp_server.h"

namespace {

using quenby::TPeerThread;
using quenby::TTCPServer;

// An echo server on 127.0.0.1 with a port chosen by the system.
class EchoServer {
 public:
  explicit EchoServer(bool close_after_answer) {
    quenby::TSocketHandle& binding = server_.Bindings().Add();
    binding.IP = "127.0.0.1";
    server_.ListenQueue = 128;
    server_.OnExecute = [close_after_answer](TPeerThread& thread) {
      quenby::TTCPConnection& connection = *thread.Connection();
      connection.WriteLine(connection.ReadLine());
      if (close_after_answer)
        connection.Disconnect();
    };
    server_.OnException = [](TPeerThread&, const std::exception&) {};
    server_.SetActive(true);
  }
  ~EchoServer() { server_.SetActive(false); }
  int Port() { return server_.Bindings()[0].Port; }

 private:
  TTCPServer server_;
};

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return fd;
}

// Sends one line and reads the answer up to its LF; false on any failure.
bool RoundTrip(int fd, const std::string& line) {
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    return false;
  }
  char buffer[256];
  std::size_t received = 0;
  while (received == 0 || buffer[received - 1] != '\n') {
    const ssize_t n = ::recv(fd, buffer + received, sizeof(buffer) - received, 0);
    if (n <= 0)
      return false;
    received += static_cast<std::size_t>(n);
  }
  return true;
}

void BM_ConnectionsPerSecond(benchmark::State& state) {
  EchoServer server(true);
  const std::string line = "GET / HTTP/1.0\r\n";
  for (auto _ : state) {
    const int fd = Connect(server.Port());
    if (fd < 0 || !RoundTrip(fd, line)) {
      state.SkipWithError("connection failed");
      if (fd >= 0)
        ::close(fd);
      break;
    }
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConnectionsPerSecond)->UseRealTime()->MinTime(2.0);

void BM_RoundTripsOnOneConnection(benchmark::State& state) {
  EchoServer server(false);
  const int fd = Connect(server.Port());
  const std::string line = "ping\r\n";
  for (auto _ : state) {
    if (fd < 0 || !RoundTrip(fd, line)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
  if (fd >= 0)
    ::close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoundTripsOnOneConnection)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

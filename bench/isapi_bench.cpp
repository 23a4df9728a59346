// Requests per second on loopback, keep-alive off: the hello module run through
// TISAPIRunner versus a handler that sets the same reply body directly. Each iteration is
// one connection, one GET and a read until the server closes.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_server.h"
#include "isapi/isapi_runner.h"

namespace quenby {
namespace {

constexpr const char* Request = "GET /hello.dll HTTP/1.1\r\nHost: localhost\r\n\r\n";
constexpr std::size_t ReadChunk = 4096;

std::string FetchOnce(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw std::runtime_error("cannot connect");
  }
  const std::string request = Request;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    close(fd);
    throw std::runtime_error("cannot send");
  }
  std::string reply;
  char chunk[ReadChunk];
  ssize_t got = 0;
  while ((got = recv(fd, chunk, sizeof chunk, 0)) > 0)
    reply.append(chunk, static_cast<std::size_t>(got));
  close(fd);
  return reply;
}

// A loopback server whose handler either runs hello.dll or answers with `direct_body`.
class TBenchServer {
 public:
  explicit TBenchServer(const std::string* direct_body) {
    server_.KeepAlive = false;
    TSocketHandle& binding = server_.Bindings().Add();
    binding.IP = "127.0.0.1";
    runner_.Server = &server_;
    server_.OnCommandGet = [this, direct_body](TPeerThread& thread, THTTPRequestInfo& request,
                                               THTTPResponseInfo& response) {
      if (direct_body != nullptr) {
        response.ContentType = "text/html";
        response.BodyText = *direct_body;
        return;
      }
      runner_.RunExtension(std::string(QUENBY_MODULE_DIR) + "/hello.dll", &thread, &request,
                           &response, std::string(QUENBY_MODULE_DIR) + "/", false, "");
    };
    server_.SetActive(true);
  }
  ~TBenchServer() { server_.SetActive(false); }
  int Port() { return server_.Bindings()[0].Port; }

 private:
  TISAPIRunner runner_;
  THTTPServer server_;
};

void Run(benchmark::State& state, const std::string* direct_body) {
  TBenchServer server(direct_body);
  for (auto _ : state)
    benchmark::DoNotOptimize(FetchOnce(server.Port()));
  state.counters["requests_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_HelloModule(benchmark::State& state) {
  Run(state, nullptr);
}

void BM_DirectHandler(benchmark::State& state) {
  static const std::string body = [] {
    TBenchServer server(nullptr);
    const std::string reply = FetchOnce(server.Port());
    return reply.substr(reply.find("\r\n\r\n") + 4);
  }();
  Run(state, &body);
}

BENCHMARK(BM_HelloModule)->UseRealTime();
BENCHMARK(BM_DirectHandler)->UseRealTime();

}  // namespace
}  // namespace quenby

BENCHMARK_MAIN();

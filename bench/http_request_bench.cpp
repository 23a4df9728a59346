// Reading and parsing one typical browser GET request (request line and 8 header lines)
// from a loopback connection, as the request loop does before it calls the handler.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "http/http_request_info.h"
#include "http/request_reader.h"
#include "net/io_handler.h"
#include "net/socket_handle.h"
#include "net/tcp_connection.h"

namespace quenby {
namespace {

const std::string Request =
    "GET /docs/index.htm?lang=en&page=2 HTTP/1.1\r\n"
    "Host: 127.0.0.1:8080\r\n"
    "Connection: keep-alive\r\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36\r\n"
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "Accept-Language: en-GB,en;q=0.9\r\n"
    "Cookie: lang=en; theme=dark\r\n"
    "Referer: http://127.0.0.1:8080/docs/\r\n"
    "\r\n";

// A server-side connection and the raw client socket of one loopback connection.
struct LoopbackConnection {
  LoopbackConnection() {
    TSocketHandle listening;
    listening.OpenSocket();
    listening.IP = "127.0.0.1";
    listening.Port = 0;
    listening.BindLocal();
    listening.StartListening(1);
    client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(listening.Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("connect failed");
    auto handler = std::make_unique<TIOHandlerSocket>();
    handler->OpenHandler();
    if (!handler->SocketBinding()->AcceptFrom(listening))
      throw std::runtime_error("accept failed");
    server.SetIOHandler(std::move(handler));
  }
  ~LoopbackConnection() { ::close(client); }
  void Send(const std::string& bytes) const {
    if (::send(client, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("send failed");
  }
  TTCPConnection server;
  int client = -1;
};

void BM_ReadAndParseGetRequest(benchmark::State& state) {
  LoopbackConnection connection;
  for (auto _ : state) {
    connection.Send(Request);
    TRequestLine parts;
    SplitRequestLine(connection.server.ReadLine(), parts);
    THTTPRequestInfo request;
    request.Method = parts.Method;
    ReadHeaderLines(connection.server, request.Headers);
    request.ParseHeaders();
    SplitRequestTarget(request, parts.Target, true);
    benchmark::DoNotOptimize(request.Path);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadAndParseGetRequest);

// The parsing alone, without the socket: what the records cost.
void BM_ParseGetRequestHeaders(benchmark::State& state) {
  std::vector<std::string> lines;
  for (std::size_t start = Request.find("\r\n") + 2, end;
       (end = Request.find("\r\n", start)) != start; start = end + 2)
    lines.push_back(Request.substr(start, end - start));
  for (auto _ : state) {
    THTTPRequestInfo request;
    request.Headers.Assign(lines);
    request.ParseHeaders();
    SplitRequestTarget(request, "/docs/index.htm?lang=en&page=2", true);
    benchmark::DoNotOptimize(request.Path);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseGetRequestHeaders);

}  // namespace
}  // namespace quenby

BENCHMARK_MAIN();

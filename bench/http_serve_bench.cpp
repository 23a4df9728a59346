// End-to-end figure: a THTTPServer whose handler answers every request with a 100-byte
// body, for a load generator on loopback (see the usage text).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/http_server.h"
#include "util/exception.h"

namespace {

constexpr std::size_t BodySize = 100;

constexpr const char* Usage =
    "usage: bench_http_serve_bench --serve PORT [--keep-alive]\n"
    "Serves a 100-byte body on 127.0.0.1:PORT (0: any port) until SIGINT or SIGTERM.\n"
    "Figures, e.g.: wrk -t2 -c16 -d10s http://127.0.0.1:PORT/\n"
    "(with --keep-alive off every request needs its own connection; wrk then reconnects\n"
    "after each reply, so the figure includes connection set-up).\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "--serve") {
    std::fputs(Usage, stderr);
    return 2;
  }
  const bool keep_alive = argc > 3 && std::string(argv[3]) == "--keep-alive";
  // Signals are taken by sigwait below, so every thread started later must block them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  quenby::THTTPServer server;
  quenby::TSocketHandle& binding = server.Bindings().Add();
  binding.IP = "127.0.0.1";
  binding.Port = std::atoi(argv[2]);
  server.KeepAlive = keep_alive;
  server.ServerSoftware = "QuenbyBench";
  const std::string body(BodySize, 'b');
  server.OnCommandGet = [&body](quenby::TPeerThread&, quenby::THTTPRequestInfo&,
                                quenby::THTTPResponseInfo& response) { response.BodyText = body; };
  try {
    server.SetActive(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", quenby::ExceptionClassName(e).c_str(), e.what());
    return 1;
  }
  std::printf("Listening on http://127.0.0.1:%d/ (keep-alive %s)\n", binding.Port,
              keep_alive ? "on" : "off");
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.SetActive(false);
  return 0;
}

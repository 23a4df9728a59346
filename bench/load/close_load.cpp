// A load client for replies that end with the connection: every request goes on a new
// connection and its reply is read until the server closes, whether or not it announces a
// length. wrk treats such a reply as a read error and reconnects twice, so the server it
// measures accepts two connections per reply; this client opens one.
//   close_load PORT PATH SECONDS CONNECTIONS THREADS
// prints "REQUESTS_PER_SECOND ERRORS".
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TLoad {
  std::uint16_t Port = 0;
  std::string Request;
  Clock::time_point Deadline;
};

struct TTally {
  std::atomic<long> Replies{0};
  std::atomic<long> Errors{0};
};

// One connection's progress through its request and reply.
struct TExchange {
  int Socket = -1;
  std::size_t Sent = 0;
  std::size_t Received = 0;
  bool StartsLikeReply = false;
};

bool Connect(const TLoad& load, int epoll, TExchange& exchange) {
  exchange = TExchange{};
  exchange.Socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (exchange.Socket < 0)
    return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(load.Port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(exchange.Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    ::close(exchange.Socket);
    return false;
  }
  epoll_event event{};
  event.events = EPOLLOUT | EPOLLIN;
  event.data.ptr = &exchange;
  if (::epoll_ctl(epoll, EPOLL_CTL_ADD, exchange.Socket, &event) == 0)
    return true;
  ::close(exchange.Socket);
  exchange.Socket = -1;
  return false;
}

// Advances one exchange; false once it has ended (reply complete or failed).
bool Advance(const TLoad& load, int epoll, TExchange& exchange, TTally& tally) {
  while (exchange.Sent < load.Request.size()) {
    const ssize_t sent = ::send(exchange.Socket, load.Request.data() + exchange.Sent,
                                load.Request.size() - exchange.Sent, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == ENOTCONN)
        return true;
      ++tally.Errors;
      return false;
    }
    exchange.Sent += static_cast<std::size_t>(sent);
    if (exchange.Sent == load.Request.size()) {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.ptr = &exchange;
      ::epoll_ctl(epoll, EPOLL_CTL_MOD, exchange.Socket, &event);
    }
  }
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::recv(exchange.Socket, buffer, sizeof buffer, 0);
    if (count > 0) {
      if (exchange.Received == 0)
        exchange.StartsLikeReply = std::strncmp(buffer, "HTTP/1.", 7) == 0;
      exchange.Received += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EAGAIN)
      return true;
    if (count == 0 && exchange.StartsLikeReply)
      ++tally.Replies;
    else
      ++tally.Errors;
    return false;
  }
}

void Drive(const TLoad& load, int connections, TTally& tally) {
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  std::vector<TExchange> exchanges(static_cast<std::size_t>(connections));
  for (TExchange& exchange : exchanges)
    if (!Connect(load, epoll, exchange))
      ++tally.Errors;
  std::vector<epoll_event> events(exchanges.size());
  while (Clock::now() < load.Deadline) {
    const int ready = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 100);
    for (int i = 0; i < ready; ++i) {
      auto& exchange = *static_cast<TExchange*>(events[static_cast<std::size_t>(i)].data.ptr);
      if (Advance(load, epoll, exchange, tally))
        continue;
      ::close(exchange.Socket);  // also leaves the epoll set
      if (!Connect(load, epoll, exchange))
        ++tally.Errors;
    }
  }
  for (const TExchange& exchange : exchanges)
    if (exchange.Socket >= 0)
      ::close(exchange.Socket);
  ::close(epoll);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: close_load PORT PATH SECONDS CONNECTIONS THREADS\n");
    return 2;
  }
  const double seconds = std::atof(argv[3]);
  const int connections = std::atoi(argv[4]);
  const int threads = std::atoi(argv[5]);
  if (seconds <= 0 || connections < threads || threads < 1) {
    std::fprintf(stderr, "close_load: need SECONDS > 0 and CONNECTIONS >= THREADS >= 1\n");
    return 2;
  }
  TLoad load;
  load.Port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  load.Request =
      std::string("GET ") + argv[2] + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  const auto started = Clock::now();
  load.Deadline =
      started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  TTally tally;
  std::vector<std::thread> drivers;
  for (int i = 0; i < threads; ++i) {
    const int share = connections / threads + (i < connections % threads ? 1 : 0);
    drivers.emplace_back(Drive, std::cref(load), share, std::ref(tally));
  }
  for (std::thread& driver : drivers)
    driver.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("%.0f %ld\n", static_cast<double>(tally.Replies) / elapsed, tally.Errors.load());
  return 0;
}

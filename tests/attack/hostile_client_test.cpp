// Hostile clients against the real server: held, endless, malformed, resetting and
// non-reading connections. Whatever one client does, it ends at most its own connection:
// every case ends by fetching the normal page, and every test by a stop that frees every
// connection's thread. (The 60 s head and stall time-outs are tested in-process with short
// limits in the engine's own suite; here nothing waits for them.)
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "attack/attack_site.h"

namespace quenby {
namespace {

using test::TAttackSite;
using test::TRawClient;
using test::TRawReply;

constexpr int HeldConnections = 1000;
constexpr auto ReplyWait = std::chrono::seconds(10);

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.0\r\n\r\n";
}

TEST(HostileClients, AThousandHalfRequestsDoNotDelayANormalClient) {
  test::RaiseDescriptorLimit();
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  std::vector<std::unique_ptr<TRawClient>> held;
  int connected = 0;
  for (int i = 0; i < HeldConnections; ++i) {
    auto client = std::make_unique<TRawClient>(site.Port());
    if (client->Connected() && client->Send("GET /a.txt HTTP/1.1\r\nHost: x\r\n"))
      ++connected;
    held.push_back(std::move(client));
  }
  EXPECT_EQ(connected, HeldConnections);
  site.ExpectServesNormalPage("1000 half requests");
  // The stop drops every held connection and frees its thread.
  site.ExpectCleanStop();
  RecordProperty("cases_tried", 1);
}

struct TEndlessCase {
  const char* name;
  std::string head;   // sent once
  std::string chunk;  // then sent over and over
  bool refused;       // the server stops reading before the client stops sending
};

TEST(HostileClients, EndlessInputEndsOnlyItsConnection) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  std::string header_lines;
  for (int i = 0; i < 4096; ++i)
    header_lines += "X-Endless: header line\r\n";
  // More than the socket buffers of both ends can hold, so a refusal shows.
  const std::size_t total = 32 << 20;
  const TEndlessCase cases[] = {
      {"endless request line", "GET /", std::string(65536, 'a'), true},
      {"endless header line", "GET /a.txt HTTP/1.1\r\nX-Long: ", std::string(65536, 'a'), true},
      {"endless header block", "GET /a.txt HTTP/1.1\r\n", header_lines, true},
      {"endless body with a huge length",
       "POST /a.txt HTTP/1.1\r\nContent-Length: 2147483647\r\n\r\n", std::string(65536, 'x'),
       false},
      {"endless body without a length", "POST /a.txt HTTP/1.1\r\n\r\n", std::string(65536, 'x'),
       false},
  };
  int refused = 0;
  for (const TEndlessCase& c : cases) {
    TRawClient client(site.Port());
    ASSERT_TRUE(client.Connected()) << c.name;
    client.Send(c.head);
    const std::size_t taken = client.SendEndlessly(c.chunk, total);
    if (c.refused) {
      EXPECT_LT(taken, total) << c.name << ": the server went on reading";
      bool closed = false;
      EXPECT_EQ(client.ReceiveUntilClose(ReplyWait, &closed), "") << c.name;
      EXPECT_TRUE(closed) << c.name;
      if (taken < total && closed)
        ++refused;
    } else {
      client.Reset();
    }
    site.ExpectServesNormalPage(c.name);
  }
  site.ExpectCleanStop();
  RecordProperty("cases_tried", static_cast<int>(std::size(cases)));
  RecordProperty("cases_refused", refused);
}

struct TResetCase {
  const char* name;
  std::string request;
  std::size_t read_first;  // bytes read before the reset
};

TEST(HostileClients, ResetsMidReplyAndMidFileEndOnlyTheirConnection) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  const TResetCase cases[] = {
      {"reset before the reply", Get("/big.bin"), 0},
      {"reset after the status line", Get("/big.bin"), 20},
      {"reset mid-file", Get("/big.bin"), 1 << 20},
      {"reset mid small reply", Get("/index.html"), 20},
      {"reset mid module reply", Get("/bin/hello.dll"), 20},
      {"reset mid error page", Get("/missing.html"), 20},
  };
  for (const TResetCase& c : cases) {
    TRawClient client(site.Port());
    ASSERT_TRUE(client.Connected()) << c.name;
    EXPECT_TRUE(client.Send(c.request)) << c.name;
    if (c.read_first > 0) {
      EXPECT_EQ(client.Receive(c.read_first, ReplyWait).size(), c.read_first) << c.name;
    }
    client.Reset();
    site.ExpectServesNormalPage(c.name);
  }
  site.ExpectCleanStop();
  RecordProperty("cases_tried", static_cast<int>(std::size(cases)));
}

struct TLengthCase {
  const char* name;
  std::string request;  // the client half-closes after it
};

// A request whose length is negative, huge, repeated or garbage gets the page whole, or no
// reply at all; never a reply cut short or one with the body taken for a request.
TEST(HostileClients, ContentLengthTricksGetTheWholePageOrNothing) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  auto with_length = [](const std::string& method, const std::string& lines,
                        const std::string& body) {
    return method + " /a.txt HTTP/1.1\r\n" + lines + "\r\n" + body;
  };
  const TLengthCase cases[] = {
      {"GET, negative", with_length("GET", "Content-Length: -1\r\n", "")},
      {"POST, negative", with_length("POST", "Content-Length: -5\r\n", "abc")},
      {"GET, huge", with_length("GET", "Content-Length: 99999999999999999999\r\n", "abc")},
      {"POST, huge", with_length("POST", "Content-Length: 99999999999999999999\r\n", "abc")},
      {"POST, just above 32 bits", with_length("POST", "Content-Length: 2147483648\r\n", "abc")},
      {"POST, largest, short body", with_length("POST", "Content-Length: 2147483647\r\n", "abc")},
      {"POST, repeated, smaller first",
       with_length("POST", "Content-Length: 3\r\nContent-Length: 10\r\n", "abcGET / HTTP/1.0\r\n")},
      {"POST, repeated, larger first",
       with_length("POST", "Content-Length: 10\r\nContent-Length: 3\r\n", "abc")},
      {"POST, two values in one line", with_length("POST", "Content-Length: 3, 10\r\n", "abc")},
      {"GET, garbage", with_length("GET", "Content-Length: abc\r\n", "")},
      {"POST, garbage", with_length("POST", "Content-Length: abc\r\n", "abc")},
      {"POST, digits then garbage", with_length("POST", "Content-Length: 3abc\r\n", "abc")},
      {"POST, hexadecimal", with_length("POST", "Content-Length: 0x3\r\n", "abc")},
      {"POST, plus sign", with_length("POST", "Content-Length: +3\r\n", "abc")},
      {"POST, spaces around", with_length("POST", "Content-Length:   3   \r\n", "abc")},
      {"POST, empty", with_length("POST", "Content-Length:\r\n", "abc")},
      {"POST, body longer than the length",
       with_length("POST", "Content-Length: 1\r\n", "abcGET /index.html HTTP/1.0\r\n\r\n")},
  };
  int whole = 0;
  int unanswered = 0;
  for (const TLengthCase& c : cases) {
    TRawClient client(site.Port());
    ASSERT_TRUE(client.Connected()) << c.name;
    EXPECT_TRUE(client.Send(c.request)) << c.name;
    client.ShutdownSend();
    bool closed = false;
    const std::string reply = client.ReceiveUntilClose(ReplyWait, &closed);
    EXPECT_TRUE(closed) << c.name;
    if (reply.empty()) {
      ++unanswered;
    } else {
      EXPECT_EQ(test::StatusLine(reply), "HTTP/1.1 200 OK") << c.name;
      EXPECT_THAT(reply, testing::HasSubstr("\r\nContent-Length: 5\r\n")) << c.name;
      EXPECT_EQ(test::ReplyBodyOf(reply), test::NormalBody) << c.name;
      ++whole;
    }
    site.ExpectServesNormalPage(c.name);
  }
  site.ExpectCleanStop();
  RecordProperty("cases_tried", static_cast<int>(std::size(cases)));
  RecordProperty("cases_whole", whole);
  RecordProperty("cases_unanswered", unanswered);
}

TEST(HostileClients, RequestLineOfSixteenKibibytesIsServedAndOneByteMoreIsNot) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  // The limit counts every byte before the LF, a CR included.
  auto line_of = [](std::size_t length) {
    const std::string start = "GET /a.txt?";
    const std::string end = " HTTP/1.0";
    return start + std::string(length - start.size() - end.size(), 'q') + end;
  };
  constexpr std::size_t Limit = 16 * 1024;
  struct {
    const char* name;
    std::string request;
    bool served;
  } const cases[] = {
      {"16 KiB with CR LF", line_of(Limit - 1) + "\r\n\r\n", true},
      {"16 KiB and one byte with CR LF", line_of(Limit) + "\r\n\r\n", false},
      {"16 KiB with LF", line_of(Limit) + "\n\n", true},
      {"16 KiB and one byte with LF", line_of(Limit + 1) + "\n\n", false},
  };
  for (const auto& c : cases) {
    const TRawReply reply = test::SendRaw(site.Port(), c.request);
    EXPECT_TRUE(reply.Closed) << c.name;
    if (c.served) {
      EXPECT_EQ(test::StatusLine(reply.Bytes), "HTTP/1.1 200 OK") << c.name;
      EXPECT_EQ(test::ReplyBodyOf(reply.Bytes), test::NormalBody) << c.name;
    } else {
      EXPECT_EQ(reply.Bytes, "") << c.name;
    }
    site.ExpectServesNormalPage(c.name);
  }
  site.ExpectCleanStop();
}

// Keep-alive is off: the first request gets its whole reply, the rest are never answered,
// and the unread requests behind it must not cut that reply short.
TEST(HostileClients, PipelinedRequestsGetOneWholeReply) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  std::string many;
  for (int i = 0; i < 2000; ++i)
    many += "GET /index.html HTTP/1.1\r\n\r\n";
  struct {
    const char* name;
    std::string first;
    std::string behind;
    std::size_t body_size;
  } const cases[] = {
      {"two small", "GET /a.txt HTTP/1.1\r\nConnection: keep-alive\r\n\r\n",
       "GET /index.html HTTP/1.1\r\n\r\n", 5},
      {"many behind a small page", "GET /a.txt HTTP/1.1\r\n\r\n", many, 5},
      {"many behind a large file", "GET /big.bin HTTP/1.1\r\n\r\n", many, TAttackSite::BigFileSize},
  };
  for (const auto& c : cases) {
    TRawClient client(site.Port());
    ASSERT_TRUE(client.Connected()) << c.name;
    EXPECT_TRUE(client.Send(c.first + c.behind)) << c.name;
    bool closed = false;
    const std::string reply = client.ReceiveUntilClose(ReplyWait, &closed);
    EXPECT_TRUE(closed) << c.name;
    EXPECT_EQ(test::StatusLine(reply), "HTTP/1.1 200 OK") << c.name;
    EXPECT_THAT(reply, testing::HasSubstr("\r\nConnection: close\r\n")) << c.name;
    EXPECT_EQ(test::ReplyBodyOf(reply).size(), c.body_size) << c.name << ": one whole reply";
    site.ExpectServesNormalPage(c.name);
  }
  site.ExpectCleanStop();
}

// A client that asks for a large file and never reads: the server's send waits on it, other
// clients are served meanwhile, and the stop ends that send and frees its thread.
TEST(HostileClients, AClientThatNeverReadsIsEndedByTheStop) {
  TAttackSite site;
  ASSERT_GT(site.Port(), 0);
  std::vector<std::unique_ptr<TRawClient>> sleepers;
  for (const char* path : {"/big.bin", "/bin/hello.dll", "/index.html"}) {
    auto client = std::make_unique<TRawClient>(site.Port());
    EXPECT_TRUE(client->Send(Get(path))) << path;
    sleepers.push_back(std::move(client));
  }
  site.ExpectServesNormalPage("clients that never read");
  site.ExpectServesNormalPage("clients that never read, again");
  site.ExpectCleanStop();
}

}  // namespace
}  // namespace quenby

// Connection reading and writing over an in-memory handler: input split every possible way,
// failures injected on chosen calls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/socket_stack.h"
#include "net/tcp_connection.h"
#include "support/memory_io_handler.h"
#include "util/stream.h"

namespace quenby {
namespace {

using test::Deliveries;
using test::TDelivery;
using test::TMemoryConnection;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

struct LineCase {
  const char* name;
  std::string input;
  std::string terminator;
  int max_length;  // -1: MaxLineLength
  TMaxLineAction action;
  std::vector<std::string> lines;
  std::string then;  // what the read after the lines raises
};

const std::string Closed = "Connection Closed Gracefully.";
const std::string TooLong = "Max line length exceeded.";

// However the bytes are cut into receives, ReadLine returns the same lines.
TEST(LineReadingTest, EveryDeliveryGivesTheSameLines) {
  const LineCase cases[] = {
      {"request head",
       "GET / HTTP/1.1\r\nHost: a\r\n\r\n",
       "\n",
       -1,
       maException,
       {"GET / HTTP/1.1", "Host: a", ""},
       Closed},
      {"lone CR stays", "a\rb\nc\r\r\n", "\n", -1, maException, {"a\rb", "c\r"}, Closed},
      {"CR LF terminator", "one\r\ntwo\r\n", "\r\n", -1, maException, {"one", "two"}, Closed},
      {"CR LF with bare CR and LF",
       "a\rb\nc\r\r\nd",
       "\r\n",
       -1,
       maException,
       {"a\rb\nc\r"},
       Closed},
      {"blank line terminator",
       "h: 1\r\nx\r\n\r\nbody",
       "\r\n\r\n",
       -1,
       maException,
       {"h: 1\r\nx"},
       Closed},
      {"LF at the limit, CR counted", "abcd\r\nabcde\r\n", "\n", 5, maException, {"abcd"}, TooLong},
      {"CR LF at the limit", "abcd\r\nabcde\r\n", "\r\n", 4, maException, {"abcd"}, TooLong},
      {"split at the limit", "abcdefgh\r\nxy\n", "\n", 5, maSplit, {"abcde", "fgh", "xy"}, Closed},
  };
  for (const LineCase& c : cases) {
    for (const TDelivery& delivery : Deliveries(c.input)) {
      SCOPED_TRACE(std::string(c.name) + ", " + delivery.Name);
      TMemoryConnection memory(delivery.Chunks);
      TTCPConnection& connection = memory.connection;
      connection.MaxLineAction = c.action;
      std::vector<std::string> lines;
      std::string error;
      try {
        for (;;)
          lines.push_back(connection.ReadLine(c.terminator, TimeoutDefault, c.max_length));
      } catch (const ENetException& e) {
        error = e.Message();
      }
      EXPECT_EQ(lines, c.lines);
      EXPECT_EQ(error, c.then);
    }
  }
}

std::string SocketErrorText(int code) {
  return TSocketStack::SocketErrorText(code);
}

// A receive that fails: a reset raises at once; after an abort, the lines that arrived in
// full are still read, and the failure shows once nothing is left to read.
TEST(ConnectionFaultTest, ReceiveFailureKeepsWhatArrived) {
  const std::string input = "one\ntwo\n";
  const std::vector<std::string> all_lines = {"one", "two"};
  for (int code : {SockErrConnReset, SockErrConnAborted}) {
    for (int call = 1; call <= static_cast<int>(input.size()) + 1; ++call) {
      SCOPED_TRACE("code " + std::to_string(code) + ", call " + std::to_string(call));
      TMemoryConnection memory(Deliveries(input).back().Chunks);  // one byte per receive
      memory.handler.FailReceive(call, code);
      const std::string arrived = input.substr(0, call - 1);
      const auto complete =
          static_cast<std::size_t>(std::count(arrived.begin(), arrived.end(), '\n'));
      std::vector<std::string> lines;
      std::string error;
      try {
        for (;;)
          lines.push_back(memory.connection.ReadLine());
      } catch (const ENetException& e) {
        error = e.Message();
      }
      EXPECT_EQ(lines, std::vector<std::string>(all_lines.begin(), all_lines.begin() + complete));
      const bool partial_line = !arrived.empty() && arrived.back() != '\n';
      EXPECT_EQ(error, code == SockErrConnAborted && partial_line ? Closed : SocketErrorText(code));
    }
  }
}

// A send that fails: the bytes of the earlier sends are on the wire, in order; a reset or an
// abort also drops the connection, other codes leave it.
TEST(ConnectionFaultTest, SendFailureKeepsWhatWentOut) {
  const std::string text = "0123456789abcdefghij";
  for (int code : {SockErrConnReset, SockErrConnAborted, SockErrNotSocket}) {
    for (int call = 1; call <= 7; ++call) {
      SCOPED_TRACE("code " + std::to_string(code) + ", call " + std::to_string(call));
      TMemoryConnection memory;
      memory.handler.MaxSendCount = 3;
      memory.handler.FailSend(call, code);
      EXPECT_THAT([&] { memory.connection.WriteText(text); },
                  ThrowsMessage<ESocketError>(StrEq(SocketErrorText(code))));
      EXPECT_EQ(memory.handler.Output(), text.substr(0, 3 * static_cast<std::size_t>(call - 1)));
      EXPECT_EQ(memory.connection.CanSend(), code == SockErrNotSocket);
    }
  }
}

// Each unit of progress ends exactly once, whether its work succeeds or fails; an OnWorkEnd
// that raises replaces whatever failure was on its way.
TEST(ConnectionWorkTest, EveryUnitEndsOnceAndAFailingEndReplacesTheFailure) {
  struct Case {
    const char* name;
    std::vector<std::string> input;
    int failing_receive;
    int failing_send;
    std::function<void(TTCPConnection&)> work;
    std::string error;  // empty: the work succeeds
  };
  auto capture = [](TTCPConnection& c) { c.CaptureLines(nullptr, ""); };
  auto read_ten = [](TTCPConnection& c) {
    TMemoryStream stream;
    c.ReadToStream(stream, 10, false);
  };
  auto read_all = [](TTCPConnection& c) { c.ReadAll(); };
  auto write_stream = [](TTCPConnection& c) {
    TMemoryStream stream(std::string("payload"));
    c.WriteFromStream(stream);
  };
  const Case cases[] = {
      {"capture", {"a\r\n", "b\r\n\r\n"}, 0, 0, capture, ""},
      {"capture cut short", {"a\r\nb"}, 0, 0, capture, Closed},
      {"read count", {"01234", "56789"}, 0, 0, read_ten, ""},
      {"read count cut short", {"01234"}, 0, 0, read_ten, Closed},
      {"read all", {"ab", "cd"}, 0, 0, read_all, ""},
      {"read all reset", {"ab", "cd"}, 2, 0, read_all, SocketErrorText(SockErrConnReset)},
      {"write stream", {}, 0, 0, write_stream, ""},
      {"write stream reset", {}, 0, 1, write_stream, SocketErrorText(SockErrConnReset)},
  };
  for (const Case& c : cases) {
    for (bool end_raises : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (end_raises ? ", OnWorkEnd raises" : ""));
      TMemoryConnection memory(c.input);
      memory.handler.FailReceive(c.failing_receive, SockErrConnReset);
      memory.handler.FailSend(c.failing_send, SockErrConnReset);
      int begins = 0;
      int ends = 0;
      memory.connection.OnWorkBegin = [&](TNetComponent&, TWorkMode, std::int64_t) { ++begins; };
      memory.connection.OnWorkEnd = [&](TNetComponent&, TWorkMode) {
        ++ends;
        if (end_raises)
          throw std::runtime_error("end failed");
      };
      std::string error;
      try {
        c.work(memory.connection);
      } catch (const std::exception& e) {
        error = e.what();
      }
      EXPECT_EQ(error, end_raises ? "end failed" : c.error);
      EXPECT_EQ(begins, 1);
      EXPECT_EQ(ends, 1);
    }
  }
}

// A stream read by count keeps exactly what arrived, also when the peer closes early.
TEST(ConnectionWorkTest, ShortReadToStreamKeepsWhatArrived) {
  for (const TDelivery& delivery : Deliveries("0123456")) {
    SCOPED_TRACE(delivery.Name);
    TMemoryConnection memory(delivery.Chunks);
    TMemoryStream stream(std::string("head:"));
    stream.SetPosition(5);
    EXPECT_THAT([&] { memory.connection.ReadToStream(stream, 10, false); },
                ThrowsMessage<EConnClosedGracefully>(StrEq(Closed)));
    EXPECT_EQ(stream.DataString(), "head:0123456");
  }
}

}  // namespace
}  // namespace quenby

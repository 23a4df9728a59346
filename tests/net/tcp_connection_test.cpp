#include "net/tcp_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <future>
#include <thread>

#include "support/net_loopback.h"

namespace quenby {
namespace {

using test::TLoopbackPair;
using ::testing::AllOf;
using ::testing::Property;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using namespace std::chrono_literals;

class TCPConnectionTest : public ::testing::Test {
 protected:
  TLoopbackPair pair_;
  TTCPConnection& conn_ = *pair_.server;
  test::TLoopbackClient& client_ = *pair_.client;
};

TEST_F(TCPConnectionTest, TwoLinesInOneSegmentAndCRHandling) {
  conn_.ReadTimeout = 5000;  // a needless receive would raise "Read Timeout"
  client_.Send("GET /a HTTP/1.1\r\nlone\rcr\nplain\n");
  EXPECT_EQ(conn_.ReadLine(), "GET /a HTTP/1.1");
  EXPECT_EQ(conn_.InputBuffer().Size(), std::string("lone\rcr\nplain\n").size());
  EXPECT_EQ(conn_.ReadLine(), "lone\rcr");
  EXPECT_EQ(conn_.ReadLine(), "plain");
  client_.Send("x\r\n");
  EXPECT_EQ(conn_.ReadLine("\r\n"), "x");
}

TEST_F(TCPConnectionTest, LineLimitCountsTheCR) {
  const std::string fits(DefaultMaxLineLength - 1, 'a');
  client_.Send(fits + "\r\n");
  EXPECT_EQ(conn_.ReadLine(), fits);

  client_.Send(std::string(DefaultMaxLineLength, 'b') + "\r\n");
  EXPECT_THAT([&] { conn_.ReadLine(); },
              ThrowsMessage<EReadLnMaxLineLengthExceeded>("Max line length exceeded."));
}

TEST_F(TCPConnectionTest, SplitReturnsTheFirstMaximumBytesAndKeepsTheRest) {
  conn_.MaxLineAction = maSplit;
  client_.Send("abcdefgh\r\n");
  EXPECT_EQ(conn_.ReadLine("\n", TimeoutDefault, 5), "abcde");
  EXPECT_TRUE(conn_.LastLineSplit());
  EXPECT_EQ(conn_.ReadLine(), "fgh");
  EXPECT_FALSE(conn_.LastLineSplit());
}

TEST_F(TCPConnectionTest, ExplicitTimeoutReturnsEmptyAndDefaultTimeoutRaises) {
  EXPECT_EQ(conn_.ReadLine("\n", 100), "");
  EXPECT_TRUE(conn_.LastReadTimedOut());
  conn_.ReadTimeout = 100;
  EXPECT_THAT([&] { conn_.ReadLine(); }, ThrowsMessage<EReadTimeout>("Read Timeout"));
  client_.Send("late\n");
  EXPECT_EQ(conn_.ReadLine(), "late");
  EXPECT_FALSE(conn_.LastReadTimedOut());
}

TEST_F(TCPConnectionTest, DropSocketFromAnotherThreadWakesABlockedRead) {
  std::promise<std::string> outcome;
  std::thread reader([&] {
    try {
      conn_.ReadLine();  // ReadTimeout 0: waits without limit
      outcome.set_value("returned");
    } catch (const Exception& e) {
      outcome.set_value(e.ClassName());
    }
  });
  client_.Send("partial");  // the reader is blocked (or about to be) with bytes buffered
  conn_.DropSocket();
  auto result = outcome.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  reader.join();
  // Blocked in its wait, the reader sees the peer side closed; when the drop wins the race
  // to the read, it finds no connection at all. Either way the read fails instead of hanging.
  EXPECT_THAT(result.get(),
              testing::AnyOf(std::string("EConnClosedGracefully"), std::string("ENotConnected")));
  EXPECT_FALSE(conn_.IsConnected());
  EXPECT_TRUE(client_.WaitForClose());
}

TEST_F(TCPConnectionTest, BufferedInputSurvivesThePeerClose) {
  int disconnected = 0;
  conn_.OnDisconnected = [&](TTCPConnection&) { ++disconnected; };
  client_.Send("line1\r\nunterminated");
  client_.Close();
  EXPECT_EQ(conn_.ReadLine(), "line1");
  EXPECT_THROW(conn_.ReadLine(), EConnClosedGracefully);
  EXPECT_EQ(disconnected, 1);
  EXPECT_FALSE(conn_.IsConnected());
  EXPECT_EQ(conn_.InputBuffer().View(), "unterminated");
}

TEST_F(TCPConnectionTest, AHalfClosedPeerStillGetsTheReply) {
  int disconnected = 0;
  conn_.OnDisconnected = [&](TTCPConnection&) { ++disconnected; };
  client_.Send("request");
  client_.ShutdownSend();
  EXPECT_EQ(conn_.ReadAll(), "request");
  EXPECT_FALSE(conn_.IsConnected());
  EXPECT_EQ(disconnected, 1);
  EXPECT_THROW(conn_.ReadLine(), EConnClosedGracefully);
  conn_.WriteText("reply");
  conn_.BeginWriteBuffering();
  conn_.WriteText(" buffered");
  conn_.EndWriteBuffering();
  conn_.Disconnect();
  EXPECT_EQ(client_.ReceiveUntilClose(), "reply buffered");
  EXPECT_EQ(disconnected, 1);
  EXPECT_ANY_THROW(conn_.WriteText("late"));
}

// Ending the sending side lets the peer read the reply to its end while this side still
// reads what the peer sends, so that no unread input turns the close into a reset.
TEST_F(TCPConnectionTest, EndSendingKeepsReadingAndUnreadInputIsSeen) {
  conn_.ReadTimeout = 5000;
  EXPECT_FALSE(conn_.HasUnreadInput());
  client_.Send("GET /a\nGET /b\n");
  EXPECT_TRUE(test::WaitUntil([this] { return conn_.HasUnreadInput(); }));
  EXPECT_EQ(conn_.ReadLine(), "GET /a");
  EXPECT_TRUE(conn_.HasUnreadInput()) << "the second line is buffered";
  conn_.WriteText("reply");
  EXPECT_TRUE(conn_.EndSending());
  EXPECT_EQ(client_.ReceiveUntilClose(), "reply") << "the end follows the reply";
  EXPECT_EQ(conn_.ReadLine(), "GET /b");
  client_.Send("more");
  EXPECT_EQ(conn_.TakeAvailable(), "more");
  client_.Close();
  EXPECT_TRUE(test::WaitUntil([this] { return conn_.HasUnreadInput(); })) << "the close counts";
  conn_.Disconnect();
  EXPECT_FALSE(conn_.EndSending()) << "no socket any more";
}

// Only bytes the peer sent and nobody read make a close a reset: its own close does not.
TEST_F(TCPConnectionTest, UnreadDataIsTheBytesNotThePeersClose) {
  conn_.ReadTimeout = 5000;
  EXPECT_FALSE(conn_.HasUnreadData());
  client_.Send("GET /a\nGET /b\n");
  EXPECT_TRUE(test::WaitUntil([this] { return conn_.HasUnreadData(); })) << "on the socket";
  EXPECT_TRUE(conn_.HasUnreadData()) << "looking consumes nothing";
  EXPECT_EQ(conn_.ReadLine(), "GET /a");
  EXPECT_TRUE(conn_.HasUnreadData()) << "the second line is buffered";
  EXPECT_EQ(conn_.ReadLine(), "GET /b");
  client_.Close();
  EXPECT_TRUE(test::WaitUntil([this] { return conn_.HasUnreadInput(); }));
  EXPECT_FALSE(conn_.HasUnreadData()) << "the close alone";
  conn_.Disconnect();
  EXPECT_FALSE(conn_.HasUnreadData()) << "no socket any more";
}

TEST_F(TCPConnectionTest, ReceiveArrivedTakesWhatIsThereWithoutWaiting) {
  EXPECT_FALSE(conn_.ReceiveArrived()) << "nothing sent yet";
  client_.Send("GET / HTTP/1.0\r\n");
  ASSERT_TRUE(test::WaitUntil([this] { return conn_.HasUnreadData(); }));
  EXPECT_TRUE(conn_.ReceiveArrived());
  EXPECT_EQ(conn_.InputBuffer().View(), "GET / HTTP/1.0\r\n");
  EXPECT_EQ(conn_.ReadLine(), "GET / HTTP/1.0");
  client_.Close();
  ASSERT_TRUE(test::WaitUntil([this] { return conn_.HasUnreadInput(); }));
  EXPECT_FALSE(conn_.ReceiveArrived()) << "the close brings no bytes";
  EXPECT_FALSE(conn_.IsConnected()) << "but is taken as any read takes it";
  EXPECT_THROW(conn_.ReadLine(), EConnClosedGracefully);
}

TEST_F(TCPConnectionTest, AwaitInputTakesWhatArrivesTimesOutAndSeesTheClose) {
  EXPECT_EQ(conn_.AwaitInput(50), -1) << "nothing sent within the wait";
  std::thread sender([this] {
    std::this_thread::sleep_for(30ms);
    client_.Send("GET /a HTTP/1.1\r\n");
  });
  EXPECT_GT(conn_.AwaitInput(5000), 0);
  sender.join();
  EXPECT_EQ(conn_.ReadLine(), "GET /a HTTP/1.1");
  EXPECT_EQ(conn_.AwaitInput(50), -1) << "the socket's receive bound holds for later waits";

  client_.Close();
  EXPECT_EQ(conn_.AwaitInput(5000), 0);
  EXPECT_FALSE(conn_.IsConnected()) << "the close is taken as any read takes it";
}

TEST_F(TCPConnectionTest, AwaitInputEndsWhenTheSocketIsDroppedFromAnotherThread) {
  std::thread stopper([this] {
    std::this_thread::sleep_for(50ms);
    conn_.DropSocket();  // what a stop does to each open connection
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_LE(conn_.AwaitInput(10000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "woken, not timed out";
  stopper.join();
}

TEST_F(TCPConnectionTest, ResetDuringReadRaisesConnectionReset) {
  client_.Reset();
  EXPECT_THAT(
      [&] { conn_.ReadLine(); },
      Throws<ESocketError>(AllOf(
          Property(&ESocketError::LastError, SockErrConnReset),
          Property(&ESocketError::Message, "Socket Error # 10054\r\nConnection reset by peer."))));
}

TEST_F(TCPConnectionTest, WritingToAResetPeerRaisesInsteadOfKillingTheProcess) {
  client_.Reset();
  const std::string block(65536, 'z');
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i)
          conn_.WriteText(block);
      },
      ENetException);
  EXPECT_FALSE(conn_.IsConnected());
}

TEST_F(TCPConnectionTest, ReadToStreamUntilCloseTakesEverything) {
  const std::string body(100000, 'q');
  std::thread writer([&] {
    client_.Send(body);
    client_.Close();
  });
  TMemoryStream stream;
  conn_.ReadToStream(stream, -1, true);
  writer.join();
  EXPECT_EQ(stream.DataString(), body);
}

TEST_F(TCPConnectionTest, ShortCountRaisesAndKeepsWhatArrived) {
  client_.Send(std::string(500, 'r'));
  client_.Close();
  TMemoryStream stream;
  EXPECT_THROW(conn_.ReadToStream(stream, 1000, false), EConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), std::string(500, 'r'));
}

TEST_F(TCPConnectionTest, LengthPrefixedReadAndInt32RoundTrip) {
  client_.Send(std::string("\x00\x00\x00\x05hello\x01\x02\x03\x04", 13));
  TMemoryStream stream;
  conn_.ReadToStream(stream);
  EXPECT_EQ(stream.DataString(), "hello");
  EXPECT_EQ(conn_.ReadInt32(), 0x01020304);
  conn_.WriteInt32(0x0A0B0C0D);
  EXPECT_EQ(client_.Receive(4), std::string("\x0A\x0B\x0C\x0D", 4));
}

TEST_F(TCPConnectionTest, CaptureLinesUnstuffsDotsIntoListsAndStreams) {
  client_.Send("Host: a\r\n..dot\r\n\r\nX: 1\r\n.\r\n");
  std::vector<std::string> lines;
  EXPECT_EQ(conn_.CaptureLines(&lines, ""), 2);
  EXPECT_EQ(lines, (std::vector<std::string>{"Host: a", ".dot"}));
  TMemoryStream stream;
  EXPECT_EQ(conn_.CaptureLines(stream), 1);
  EXPECT_EQ(stream.DataString(), "X: 1\r\n");
}

TEST_F(TCPConnectionTest, WriteBufferingHoldsUntilFlushOrThreshold) {
  conn_.BeginWriteBuffering(-1);
  conn_.WriteText("held ");
  conn_.WriteBytes("now|", 4, true);
  EXPECT_EQ(client_.Receive(4), "now|");
  conn_.FlushWriteBuffering();
  EXPECT_EQ(client_.Receive(5), "held ");
  conn_.EndWriteBuffering();

  conn_.BeginWriteBuffering(10);
  conn_.WriteText("123456");
  conn_.WriteText("789abc");  // 12 held: the first 10 go out
  conn_.WriteBytes("|", 1, true);
  EXPECT_EQ(client_.Receive(11), "123456789a|");
  conn_.WriteText("d");
  conn_.DiscardWriteBuffering();  // drops "bcd"
  conn_.WriteText("e");
  conn_.EndWriteBuffering();
  EXPECT_EQ(client_.Receive(1), "e");
  EXPECT_FALSE(conn_.WriteBuffering());

  // Each buffering starts empty, whatever the one before held or discarded.
  for (const std::size_t size : {std::size_t{3}, std::size_t{5000}, std::size_t{2}}) {
    conn_.BeginWriteBuffering(-1);
    conn_.WriteText("dropped");
    conn_.DiscardWriteBuffering();
    conn_.WriteText(std::string(size, 'x'));
    conn_.EndWriteBuffering();
    EXPECT_EQ(client_.Receive(size), std::string(size, 'x'));
  }
  EXPECT_EQ(client_.Receive(1, std::chrono::milliseconds(50)), "");
}

// Bytes marked as followed by more are held back only for a while: they arrive without a
// later write, and whole, in order, with the writes that do follow.
TEST_F(TCPConnectionTest, WritesMarkedMoreFollowsArriveWholeWithOrWithoutWhatFollows) {
  conn_.SetMoreFollows(true);
  conn_.WriteText("head|");
  EXPECT_EQ(client_.Receive(5), "head|");  // nothing follows: the transport lets it go
  conn_.WriteText("second|");
  conn_.SetMoreFollows(false);
  conn_.WriteText("body");
  EXPECT_EQ(client_.Receive(11), "second|body");
}

TEST_F(TCPConnectionTest, FilesGoOutNativelyOrStreamedAndMissingFilesAreNamed) {
  char name[] = "/tmp/quenby_net_file_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string content(70000, 'f');
  ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ::close(fd);
  EXPECT_EQ(conn_.WriteFileContents(name, false), 70000);
  EXPECT_EQ(client_.Receive(content.size()), content);
  EXPECT_EQ(conn_.WriteFileContents(name, true), 70000);
  EXPECT_EQ(client_.Receive(content.size()), content);
  ::unlink(name);
  EXPECT_THAT([&] { conn_.WriteFileContents("/nonexistent/file.txt"); },
              ThrowsMessage<EFileNotFound>("File \"/nonexistent/file.txt\" not found"));
}

TEST_F(TCPConnectionTest, WriteFromStreamRaisesWhenTheStreamEndsEarly) {
  TMemoryStream stream(std::string("abcdef"));
  conn_.WriteFromStream(stream, true, true, 0);
  EXPECT_EQ(client_.Receive(10), std::string("\x00\x00\x00\x06"
                                             "abcdef",
                                             10));
  EXPECT_THROW(conn_.WriteFromStream(stream, true, false, 10), ENoDataToRead);
  EXPECT_EQ(client_.Receive(6), "abcdef");
}

TEST_F(TCPConnectionTest, ReadAllReturnsEverythingUntilClose) {
  client_.Send("one ");
  client_.Send("two");
  client_.ShutdownSend();
  EXPECT_EQ(conn_.ReadAll(), "one two");
}

class UpperCaseIntercept : public TConnectionIntercept {
 public:
  void Receive(std::string& bytes) override {
    for (char& c : bytes)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  void Send(std::string& bytes) override { bytes = "[" + bytes + "]"; }
};

TEST_F(TCPConnectionTest, InterceptRewritesBothDirections) {
  conn_.SetIntercept(std::make_shared<UpperCaseIntercept>());
  client_.Send("shout\n");
  EXPECT_EQ(conn_.ReadLine(), "SHOUT");
  conn_.WriteText("x");
  EXPECT_EQ(client_.Receive(3), "[x]");
}

TEST(ManagedBufferTest, CompactsOnlyAfter32768ConsumedBytes) {
  TManagedBuffer buffer;
  std::int64_t removed = 0;
  buffer.OnBytesRemoved = [&](std::int64_t n) { removed += n; };
  buffer.Append(std::string(40000, 'a') + "tail");
  buffer.Remove(32767);
  EXPECT_EQ(buffer.Offset(), 32767u);
  buffer.Remove(1);
  EXPECT_EQ(buffer.Offset(), 0u);
  EXPECT_EQ(buffer.Size(), 40004u - 32768u);
  EXPECT_EQ(buffer.Find("tail", 0), 40000u - 32768u);
  EXPECT_THROW(buffer.Remove(100000), ENotEnoughDataInBuffer);
  EXPECT_EQ(buffer.Extract(buffer.Size()).substr(7232), "tail");
  EXPECT_EQ(buffer.Size(), 0u);
  EXPECT_EQ(removed, 40004);
}

TEST(SimpleBufferTest, RemovingMoreThanHeldRaises) {
  TSimpleBuffer buffer;
  buffer.Append("abc");
  EXPECT_THAT([&] { buffer.Extract(4); },
              ThrowsMessage<ENotEnoughDataInBuffer>("Not enough data in buffer."));
  EXPECT_EQ(buffer.Extract(2), "ab");
  EXPECT_EQ(buffer.View(), "c");
}

}  // namespace
}  // namespace quenby

#include "net/socket_stack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/ipv4_address.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::Property;
using ::testing::Throws;
using ::testing::ThrowsMessage;

class SocketStackTest : public ::testing::Test {
 protected:
  TSocketStackLease lease_;
  TSocketStack& stack_ = SocketStack();
};

struct AddressRow {
  const char* text;
  const char* dotted;  // nullptr: not an address
};

TEST(IPv4ParserTest, AcceptsAllFormsAndRejectsTheRest) {
  const AddressRow rows[] = {
      {"10.1", "10.0.0.1"},
      {"10.1.2", "10.1.0.2"},
      {"2130706433", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1"},
      {"255.255.255.255", "255.255.255.255"},
      {"4294967295", "255.255.255.255"},
      {"1.2.65535", "1.2.255.255"},
      {"1.16777215", "1.255.255.255"},
      {"1..3.4", "0.0.0.1"},
      {"256.1.1.1", nullptr},
      {"1.2.3.4.5", nullptr},
      {"a.b.c.d", nullptr},
      {"", nullptr},
      {"4294967296", nullptr},
      {"1.2.65536", nullptr},
      {"1.16777216", nullptr},
      {"-1.2.3.4", nullptr},
      {"1.2.3.", "1.2.0.3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(TSocketStack::IsIPv4Address(row.text), row.dotted != nullptr);
    if (row.dotted != nullptr) {
      EXPECT_EQ(TSocketStack::AddressToText(TSocketStack::AddressToNumber(row.text)), row.dotted);
    } else {
      EXPECT_THAT(
          [&] { TSocketStack::AddressToNumber(row.text); },
          ThrowsMessage<EInvalidIPAddress>(std::string(row.text) + " is not a valid IP address."));
    }
  }
}

TEST(IPv4ParserTest, KindsAndClasses) {
  EXPECT_EQ(ParseIPv4Address("2130706433").kind, 2);
  EXPECT_EQ(ParseIPv4Address("2130706433").address_class, 0);
  EXPECT_EQ(ParseIPv4Address("200.1").address_class, 1);
  EXPECT_EQ(ParseIPv4Address("200.1.2").address_class, 2);
  EXPECT_EQ(ParseIPv4Address("200.1.2.3").address_class, 3);
  EXPECT_EQ(ParseIPv4Address("230.1.2.3").address_class, 4);
  EXPECT_EQ(ParseIPv4Address("250.1.2.3").address_class, 5);
}

TEST(SocketErrorTextTest, FormatsKnownAndUnknownCodes) {
  EXPECT_EQ(TSocketStack::SocketErrorText(10048),
            "Socket Error # 10048\r\nAddress already in use.");
  EXPECT_EQ(TSocketStack::SocketErrorText(10035),
            "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(TSocketStack::SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(TSocketStack::SocketErrorText(12345), "Socket Error # 12345\r\n");
}

TEST(SocketErrorTextTest, TranslatesErrnoToTheTableNumbering) {
  EXPECT_EQ(TSocketStack::TranslateErrno(EINTR), 10004);
  EXPECT_EQ(TSocketStack::TranslateErrno(EBADF), 10038);
  EXPECT_EQ(TSocketStack::TranslateErrno(ENOTSOCK), 10038);
  EXPECT_EQ(TSocketStack::TranslateErrno(EADDRINUSE), 10048);
  EXPECT_EQ(TSocketStack::TranslateErrno(ECONNABORTED), 10053);
  EXPECT_EQ(TSocketStack::TranslateErrno(ECONNRESET), 10054);
  EXPECT_EQ(TSocketStack::TranslateErrno(EPIPE), 10054);
  EXPECT_EQ(TSocketStack::TranslateErrno(ESHUTDOWN), 10058);
  EXPECT_EQ(TSocketStack::TranslateErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(TSocketStack::TranslateErrno(ENOTEMPTY), 10066);
}

TEST_F(SocketStackTest, CheckSocketResultToleratesListedCodesAndRaisesOthers) {
  EXPECT_FALSE(stack_.CheckSocketResult(0));
  errno = 0;
  // A close of a descriptor that is not open fails with "not a socket".
  EXPECT_EQ(stack_.SockClose(-5), SocketError);
  EXPECT_TRUE(stack_.CheckSocketResult(SocketError, {SockErrNotSocket}));
  EXPECT_EQ(stack_.LastError(), SockErrNotSocket);
  EXPECT_THAT([&] { stack_.CheckSocketResult(SocketError, {SockErrAddressInUse}); },
              Throws<ESocketError>(
                  AllOf(Property(&ESocketError::LastError, 10038),
                        Property(&ESocketError::Message,
                                 "Socket Error # 10038\r\nSocket operation on non-socket."))));
}

TEST_F(SocketStackTest, SelectRefusesMoreThan64SocketsBeforeWaiting) {
  TSocketList many(MaxSocketListSize + 1, 0);
  EXPECT_THROW(stack_.SockSelect(&many, nullptr, nullptr, SelectNoLimit), EStackSetSizeExceeded);
  EXPECT_THAT([&] { stack_.SockSelect(nullptr, nullptr, &many, 0); },
              ThrowsMessage<EStackSetSizeExceeded>("Set Size Exceeded."));
}

TEST_F(SocketStackTest, SelectReportsOnlyReadySockets) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  TSocketList read{pair[0], pair[1]};
  EXPECT_EQ(stack_.SockSelect(&read, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(read.empty());
  ASSERT_EQ(::write(pair[1], "x", 1), 1);
  read = {pair[0], pair[1]};
  TSocketList write{pair[1]};
  // No limit: returns because a socket is ready.
  EXPECT_EQ(stack_.SockSelect(&read, &write, nullptr, SelectNoLimit), 2);
  EXPECT_EQ(read, TSocketList{pair[0]});
  EXPECT_EQ(write, TSocketList{pair[1]});
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST_F(SocketStackTest, ResolvesLocalhostWithoutLookupAndAddressesAsThemselves) {
  EXPECT_EQ(stack_.ResolveHostToIP("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHostToIP("localhost"), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHostToIP("10.1"), "10.1");
}

TEST_F(SocketStackTest, FirstLocalAddressIsAnAddress) {
  const std::string first = stack_.FirstLocalAddress();
  EXPECT_TRUE(TSocketStack::IsIPv4Address(first)) << first;
  EXPECT_EQ(stack_.LocalAddressList().front(), first);
}

TEST_F(SocketStackTest, UnknownHostRaisesHostNotFound) {
  EXPECT_THAT([&] { stack_.HostByName("no-such-host.invalid"); },
              Throws<ESocketError>(Property(&ESocketError::LastError, SockErrHostNotFound)));
}

TEST_F(SocketStackTest, ServicePortReadsNamesAndNumbers) {
  EXPECT_EQ(stack_.ServicePort("8080"), 8080);
  EXPECT_THAT([&] { stack_.ServicePort("no-such-service"); },
              ThrowsMessage<EInvalidServiceName>("no-such-service is not a valid service."));
}

TEST_F(SocketStackTest, BindNeverTruncatesAPortOutsideTheRange) {
  const TSocket socket = stack_.CreateSocket(SOCK_STREAM, 0);
  for (int port : {65536, -1, 65536 + 80}) {
    EXPECT_THAT([&] { stack_.SockBind(socket, AF_INET, "127.0.0.1", port); },
                ThrowsMessage<EInvalidPortRange>("Invalid Port Range (" + std::to_string(port) +
                                                 " - " + std::to_string(port) + ")"));
  }
  EXPECT_THROW(stack_.SockBind(socket, AF_INET, "256.1.1.1", 0), EInvalidIPAddress);
  EXPECT_EQ(stack_.SockBind(socket, AF_INET, "127.0.0.1", 0), 0);
  int family = 0;
  std::string ip;
  int port = 0;
  stack_.SockLocalName(socket, family, ip, port);
  EXPECT_EQ(ip, "127.0.0.1");
  EXPECT_GT(port, 0);
  stack_.SockClose(socket);
}

TEST_F(SocketStackTest, AcceptedConnectionsSendWithoutNagleDelay) {
  const TSocket listening = stack_.CreateSocket(SOCK_STREAM, 0);
  ASSERT_EQ(stack_.SockBind(listening, AF_INET, "127.0.0.1", 0), 0);
  ASSERT_EQ(stack_.SockListen(listening, 1), 0);
  int family = 0;
  std::string ip;
  int port = 0;
  stack_.SockLocalName(listening, family, ip, port);
  const TSocket client = stack_.CreateSocket(SOCK_STREAM, 0);
  ASSERT_EQ(stack_.SockConnect(client, AF_INET, "127.0.0.1", port), 0);
  std::string remote_ip;
  int remote_port = 0;
  const TSocket accepted = stack_.SockAccept(listening, remote_ip, remote_port);
  ASSERT_NE(accepted, SocketError);
  EXPECT_EQ(remote_ip, "127.0.0.1");
  int no_delay = 0;
  int length = sizeof(no_delay);
  ASSERT_EQ(stack_.SockGetOption(accepted, IPPROTO_TCP, TCP_NODELAY, &no_delay, length), 0);
  EXPECT_NE(no_delay, 0);
  for (TSocket socket : {accepted, client, listening}) {
    stack_.SockClose(socket);
  }
}

TEST(SocketStackLeaseTest, FirstLeaseCreatesAndLastFreesTheStack) {
  ASSERT_FALSE(SocketStackExists());
  {
    TSocketStackLease first;
    TSocketStack* stack = &SocketStack();
    {
      TSocketStackLease second;
      EXPECT_EQ(&SocketStack(), stack);
    }
    EXPECT_TRUE(SocketStackExists());
  }
  EXPECT_FALSE(SocketStackExists());
  EXPECT_THROW(SocketStack(), ENetException);
}

}  // namespace
}  // namespace quenby

#include "net/ip_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "support/net_loopback.h"

namespace quenby {
namespace {

// A watch whose address comes from the test.
class IPWatchTest : public ::testing::Test {
 protected:
  IPWatchTest() {
    watch_.HistoryEnabled = false;
    watch_.AddressSource = [this] { return address_; };
    watch_.OnStatusChanged = [this](TIPWatch&) { ++changes_; };
  }
  void See(const std::string& address) {
    address_ = address;
    watch_.CheckStatus();
  }

  std::string address_;
  int changes_ = 0;
  TIPWatch watch_;
};

TEST_F(IPWatchTest, AddressesEnterTheHistoryWhenGoingOfflineOnceEach) {
  See("10.0.0.5");
  EXPECT_TRUE(watch_.Online());
  See("");
  EXPECT_FALSE(watch_.Online());
  EXPECT_EQ(watch_.PreviousAddress(), "10.0.0.5");
  See("10.0.0.5");
  See("127.0.0.1");                                                   // loopback counts as offline
  EXPECT_EQ(watch_.History(), std::vector<std::string>{"10.0.0.5"});  // stored once
  See("10.0.0.6");
  See("");
  EXPECT_EQ(watch_.History(), (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));
  EXPECT_EQ(changes_, 6);
  See("");  // no change, no event
  EXPECT_EQ(changes_, 6);
}

TEST_F(IPWatchTest, TheHistoryKeepsItsLimitAndDropsTheOldest) {
  watch_.SetMaxHistoryEntries(3);
  for (int i = 1; i <= 5; ++i) {
    See("10.0.0." + std::to_string(i));
    See("");
  }
  EXPECT_EQ(watch_.History(), (std::vector<std::string>{"10.0.0.3", "10.0.0.4", "10.0.0.5"}));
  watch_.SetMaxHistoryEntries(1);
  EXPECT_EQ(watch_.History(), std::vector<std::string>{"10.0.0.5"});
}

TEST_F(IPWatchTest, FailedQueriesPropagateButChecksSwallowThem) {
  See("10.0.0.9");
  watch_.AddressSource = []() -> std::string { throw ENetException("no network"); };
  EXPECT_THROW(watch_.QueryLocalAddress(), ENetException);
  watch_.CheckStatus();
  EXPECT_TRUE(watch_.Online());
  EXPECT_EQ(watch_.CurrentAddress(), "10.0.0.9");
}

TEST_F(IPWatchTest, PeriodicChecksRunThroughTheDispatcher) {
  std::atomic<int> dispatched{0};
  watch_.Dispatcher = [&](const std::function<void()>& check) {
    check();
    ++dispatched;
  };
  address_ = "10.1.1.1";
  watch_.SetWatchInterval(5);
  watch_.SetActive(true);
  EXPECT_TRUE(test::WaitUntil([&] { return dispatched >= 2; }));
  watch_.SetActive(false);
  EXPECT_FALSE(watch_.Active());
  EXPECT_TRUE(watch_.Online());
}

TEST(IPWatchRealTest, QueryGivesAnAddressAndTheHistoryFileIsWrittenAtTheEnd) {
  char name[] = "/tmp/quenby_iphist_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  {
    TIPWatch watch;
    EXPECT_TRUE(TSocketStack::IsIPv4Address(watch.QueryLocalAddress()));
    watch.HistoryFilename = name;
    watch.AddressSource = [] { return std::string("192.168.7.7"); };
    watch.CheckStatus();
  }
  std::ifstream file(name);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), "192.168.7.7\r\n");
  ::unlink(name);
}

}  // namespace
}  // namespace quenby

// Modules that finish on threads of their own, send files, or fault.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "isapi/fake_host.h"

namespace quenby::test {
namespace {

using ::testing::ElementsAre;

TEST(PendingModule, WorkerFinishesAfterPendingIsReturned) {
  TestModule module("pending");
  FakeHost plain("GET", "");
  FakeHost with_header("GET", "header");
  EXPECT_EQ(module.Run(plain), static_cast<DWORD>(HSE_STATUS_PENDING));
  EXPECT_EQ(module.Run(with_header), static_cast<DWORD>(HSE_STATUS_PENDING));
  ASSERT_TRUE(plain.WaitDone());
  ASSERT_TRUE(with_header.WaitDone());
  EXPECT_THAT(plain.events, ElementsAre("write pending: finished by the worker\n", "done"));
  EXPECT_THAT(with_header.events, ElementsAre("header 1016 200 OK|Content-Type: text/plain\r\n\r\n",
                                              "write pending: finished by the worker\n", "done"));
}

TEST(PendingModule, EarlyFinishHappensBeforeTheCallReturns) {
  TestModule module("pending");
  FakeHost host("GET", "early");
  EXPECT_EQ(module.Run(host), static_cast<DWORD>(HSE_STATUS_PENDING));
  EXPECT_THAT(host.events, ElementsAre("write pending: finished before PENDING\n", "done"));
}

TEST(PendingModule, UnloadJoinsAnIdleWorkerAndReloadStartsAnother) {
  for (int round = 0; round < 2; ++round) {
    TestModule module("pending");
    FakeHost host("GET", "");
    module.Run(host);
    ASSERT_TRUE(host.WaitDone());
  }
}

/// A temporary file holding "0123456789", removed at the end of the test.
class TransmitModule : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/quenby-transmit-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "0123456789", 10), 10);
    close(fd);
    path_ = name;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string path_;
};

TEST_F(TransmitModule, HeaderThenFileFromOffsetThenTrailer) {
  TestModule module("transmit");
  FakeHost host("GET", "file=" + path_ + "&offset=3&bytes=4&lead");
  EXPECT_EQ(module.Run(host), static_cast<DWORD>(HSE_STATUS_SUCCESS));
  EXPECT_THAT(host.events,
              ElementsAre("header 1016 200 OK|Content-Type: application/octet-stream\r\n\r\n",
                          "write transmit: lead\n", "file 3456", "write \n-- trailer --\n"));
}

TEST_F(TransmitModule, WholeFileWithoutHeader) {
  TestModule module("transmit");
  FakeHost host("GET", "noheader&file=" + path_);
  module.Run(host);
  EXPECT_THAT(host.events, ElementsAre("file 0123456789", "write \n-- trailer --\n"));
}

TEST_F(TransmitModule, RelativeNamesResolveBesideTheModule) {
  TestModule module("transmit");
  FakeHost host("GET", "file=no-such-file");
  EXPECT_EQ(module.Run(host), static_cast<DWORD>(HSE_STATUS_ERROR));
  EXPECT_EQ(host.Block()->dwHttpStatusCode, 404u);
  EXPECT_EQ(host.body,
            "transmit: cannot open " + std::string(QUENBY_TEST_MODULE_DIR) + "/no-such-file\n");
}

// The crash module must really raise each signal: the host's fault handling is tested
// against it. The default action is restored first, as sanitizers install handlers.
void RunFault(const char* query, int signal_number) {
  std::signal(signal_number, SIG_DFL);
  TestModule module("crash");
  FakeHost host("GET", query);
  module.Run(host);
  std::exit(0);
}

TEST(CrashModule, RaisesTheSignalTheQueryNames) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunFault("segv", SIGSEGV), ::testing::KilledBySignal(SIGSEGV), "");
  EXPECT_EXIT(RunFault("fpe", SIGFPE), ::testing::KilledBySignal(SIGFPE), "");
  EXPECT_EXIT(RunFault("bus", SIGBUS), ::testing::KilledBySignal(SIGBUS), "");
}

TEST(CrashModule, AnyOtherQuerySucceedsWithoutAFault) {
  TestModule module("crash");
  FakeHost host("GET", "none");
  EXPECT_EQ(module.Run(host), static_cast<DWORD>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(host.body, "crash: no fault asked\n");
}

}  // namespace
}  // namespace quenby::test

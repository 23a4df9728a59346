// Output and input callbacks given arguments they cannot use: FALSE with the count set to
// 0, and nothing changed in the reply.
#include <gtest/gtest.h>
#include <quenby/isapi.h>

#include <string>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "isapi/ecb.h"
#include "isapi/extension_callbacks.h"

namespace quenby {
namespace {

class CallbackArgumentsTest : public ::testing::Test {
 protected:
  CallbackArgumentsTest() {
    request_.Method = "GET";
    // No peer thread: a block with nothing to read from.
    block_.Fill(nullptr, nullptr, &request_, &response_, "/srv", "");
    block_.Register();
  }

  HCONN ConnID() { return block_.Block()->ConnID; }

  THTTPRequestInfo request_;
  THTTPResponseInfo response_{nullptr};
  TECB block_;
};

TEST_F(CallbackArgumentsTest, WriteClientWithoutABufferFailsAndWritesNothing) {
  char text[] = "abc";
  DWORD count = 3;
  ASSERT_EQ(WriteClient(ConnID(), text, &count, HSE_IO_SYNC), TRUE);
  EXPECT_EQ(count, 3u);
  count = 5;
  EXPECT_EQ(WriteClient(ConnID(), nullptr, &count, HSE_IO_SYNC), FALSE);
  EXPECT_EQ(count, 0u);
  count = 0;  // nothing to write needs no buffer
  EXPECT_EQ(WriteClient(ConnID(), nullptr, &count, HSE_IO_SYNC), TRUE);
  EXPECT_EQ(response_.BodyText, "abc");
}

TEST_F(CallbackArgumentsTest, ReadClientWithoutAConnectionOrABufferFails) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  DWORD size = sizeof buffer;
  EXPECT_EQ(ReadClient(ConnID(), buffer, &size), FALSE);
  EXPECT_EQ(size, 0u);
  size = sizeof buffer;
  EXPECT_EQ(ReadClient(ConnID(), nullptr, &size), FALSE);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "xxxx");
}

}  // namespace
}  // namespace quenby

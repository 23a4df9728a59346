#include "net/rfc_reply.h"

#include <gtest/gtest.h>

namespace quenby {
namespace {

TEST(RFCReplyTest, WireForms) {
  EXPECT_EQ(TRFCReply(0, {}).FormattedReply(), "");
  EXPECT_FALSE(TRFCReply(0, {}).HasContent());
  EXPECT_EQ(TRFCReply(0, {"plain", "lines"}).FormattedReply(), "plain\r\nlines\r\n");
  EXPECT_EQ(TRFCReply(220, {}).FormattedReply(), "220\r\n");
  EXPECT_EQ(TRFCReply(250, {"first", "second", "last"}).FormattedReply(),
            "250-first\r\n250-second\r\n250 last\r\n");
  EXPECT_EQ(TRFCReply(503, {"Busy"}).FormattedReply(), "503 Busy\r\n");
}

TEST(RFCReplyTest, CodesFollowEachOtherAndTextsComeFromTheDefaults) {
  TRFCReply reply;
  reply.SetTextCode("421");
  EXPECT_EQ(reply.NumericCode(), 421);
  reply.SetTextCode("x1");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.SetNumericCode(554);
  EXPECT_EQ(reply.TextCode(), "554");

  TRFCReplies defaults;
  defaults.Add(554, {"Too many connections"});
  defaults.UpdateText(reply);
  EXPECT_EQ(reply.FormattedReply(), "554 Too many connections\r\n");
  TRFCReply own(554, {"mine"});
  defaults.UpdateText(own);
  EXPECT_EQ(own.Text, std::vector<std::string>{"mine"});
}

}  // namespace
}  // namespace quenby

#include "http/authentication.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "http/base64_coder.h"
#include "http/http_exceptions.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::Property;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;

struct Vector {
  const char* plain;
  const char* encoded;
};

// RFC 4648 section 10 test vectors.
constexpr Vector Vectors[] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};

TEST(Base64Test, StandardVectorsBothWays) {
  const TEncoderMIME encoder;
  const TDecoderMIME decoder;
  for (const Vector& v : Vectors) {
    EXPECT_EQ(encoder.Encode(v.plain), v.encoded) << v.plain;
    EXPECT_EQ(decoder.Decode(v.encoded), v.plain) << v.encoded;
  }
}

TEST(Base64Test, EveryByteValueRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  const std::string encoded = TEncoderMIME().Encode(all);
  EXPECT_EQ(encoded.find_first_not_of(std::string(Base64Alphabet) + "="), std::string::npos);
  EXPECT_EQ(TDecoderMIME().Decode(encoded), all);
}

TEST(Base64Test, UnevenLengthIsRefused) {
  const TDecoderMIME decoder;
  for (const char* text : {"abc", "a", "Zm9vY", " Zm9v"}) {
    EXPECT_THAT([&] { decoder.Decode(text); },
                ThrowsMessage<EDecoderError>("Uneven size in DecodeToStream."))
        << text;
  }
}

TEST(Base64Test, HostileBytesDecodeWithoutFailing) {
  // Bytes outside the alphabet (high bytes, NUL, fill characters in odd places) are not
  // rejected and stay inside the table; run under the address sanitizer this also checks
  // that no read leaves it.
  std::string hostile;
  for (int b = 255; b >= 0; --b)
    hostile += b == Base64Fill ? '\x80' : static_cast<char>(b);
  const TDecoderMIME decoder;
  EXPECT_EQ(decoder.Decode(hostile).size(), 192u);
  EXPECT_EQ(decoder.Decode("====").size(), 1u);
  EXPECT_EQ(decoder.Decode("A=A=").size(), 2u);
  EXPECT_EQ(decoder.Decode("==A=Zm9v"), std::string(2, '\0') + "foo");
  EXPECT_EQ(decoder.Decode(std::string(4, '\0')), std::string(3, '\0'));
}

TEST(BasicCredentialsTest, UserBeforeFirstColonPasswordAfter) {
  const std::string encoded = TEncoderMIME().Encode("user:pa:ss");
  TBasicCredentials credentials = DecodeBasicCredentials("Basic " + encoded);
  EXPECT_EQ(credentials.User, "user");
  EXPECT_EQ(credentials.Password, "pa:ss");

  credentials = DecodeBasicCredentials("bAsIc " + TEncoderMIME().Encode("alone"));
  EXPECT_EQ(credentials.User, "alone");
  EXPECT_EQ(credentials.Password, "");

  credentials = DecodeBasicCredentials("Basic");
  EXPECT_EQ(credentials.User, "");
  EXPECT_EQ(credentials.Password, "");
}

TEST(BasicCredentialsTest, OtherSchemesAndBadBase64Raise) {
  EXPECT_THAT([] { DecodeBasicCredentials("Bearer abc"); },
              Throws<EHTTPUnsupportedAuthorisationScheme>(AllOf(
                  Property(&Exception::Message, "Unsupported authorization scheme."),
                  Property(&Exception::ClassName, StrEq("EHTTPUnsupportedAuthorisationScheme")))));
  EXPECT_THROW(DecodeBasicCredentials("Digest username=x"), EHTTPUnsupportedAuthorisationScheme);
  // An extra space makes the base64 length uneven.
  EXPECT_THROW(DecodeBasicCredentials("Basic  Zm9v"), EDecoderError);
}

TEST(BasicAuthenticationTest, CredentialsTextAndChallenge) {
  TBasicAuthentication basic;
  basic.SetUsername("Aladdin");
  basic.SetPassword("open sesame");
  EXPECT_EQ(basic.Authentication(), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");

  basic.AuthParams = {"Digest realm=\"x\"", "Basic realm=\"Private Area\", charset=\"UTF-8\""};
  EXPECT_TRUE(basic.ReadChallenge());
  EXPECT_EQ(basic.Realm, "Private Area");
  EXPECT_EQ(basic.Params.ValueByName("charset"), "\"UTF-8\"");
  EXPECT_EQ(basic.State, TAuthWhatsNext::DoRequest);

  TBasicAuthentication anonymous;
  anonymous.AuthParams = {"Basic realm=\"r\""};
  EXPECT_FALSE(anonymous.ReadChallenge());
  EXPECT_EQ(anonymous.Steps, 1);
}

TEST(AuthenticationRegistryTest, BasicIsThereAndNamesAreUnique) {
  auto basic = FindAuthenticationMethod("basic");
  ASSERT_TRUE(basic.has_value());
  EXPECT_NE(dynamic_cast<TBasicAuthentication*>(basic->Create().get()), nullptr);
  EXPECT_FALSE(FindAuthenticationMethod("Nonexistent").has_value());
  EXPECT_THAT(
      [] {
        RegisterAuthenticationMethod("BASIC", {"TOther", nullptr});
      },
      ThrowsMessage<EAlreadyRegisteredAuthenticationMethod>(
          "This authentication method is already registered with class name "
          "TBasicAuthentication."));
  EXPECT_EQ(FindAuthenticationMethod("Basic")->ClassName, "TBasicAuthentication");
}

}  // namespace
}  // namespace quenby

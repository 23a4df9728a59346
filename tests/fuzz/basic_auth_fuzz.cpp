// Basic credentials as an "Authorization" value carries them, and Basic challenges as a
// "WWW-Authenticate" value does. Credentials that decode are encoded again and must decode
// to the same user and password.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/authentication.h"
#include "http/base64_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  quenby::TBasicAuthentication challenge_reader;
  challenge_reader.AuthParams.emplace_back(text);
  challenge_reader.ReadChallenge();

  quenby::TBasicCredentials credentials;
  try {
    credentials = quenby::DecodeBasicCredentials(text);
  } catch (const std::exception&) {
    return 0;  // another scheme or broken base64: refused, as it should be
  }
  if (credentials.User.find(':') != std::string::npos)
    return 0;
  const std::string again =
      "Basic " + quenby::TEncoderMIME().Encode(credentials.User + ":" + credentials.Password);
  const quenby::TBasicCredentials decoded = quenby::DecodeBasicCredentials(again);
  FUZZ_CHECK(decoded.User == credentials.User);
  FUZZ_CHECK(decoded.Password == credentials.Password);
  return 0;
}

#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenby {

/// Standard base64 (RFC 2045) alphabet; "=" fills the last group.
inline constexpr std::string_view Base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char Base64Fill = '=';

/// Encodes bytes as base64 without line breaks. Stateless; any thread.
class TEncoderMIME {
 public:
  /// All bytes of `text`, "=" filled to a multiple of 4 characters.
  std::string Encode(std::string_view text) const;
};

/// Decodes base64 text. Each decoder holds its own copy of a lookup table built once per
/// process, with an entry for every byte value, so no input can read outside it. Characters
/// outside the alphabet are not rejected; they decode as zero bits. A decoder may be used by
/// several threads at once (decoding only reads the table).
class TDecoderMIME {
 public:
  TDecoderMIME();
  /// Raises EDecoderError "Uneven size in DecodeToStream." when the length of `text` is not
  /// a multiple of 4. A group yields one byte when its third character is "=", two when its
  /// fourth is, three otherwise. An empty text gives an empty result.
  std::string Decode(std::string_view text) const;

  using Table = std::array<std::uint8_t, 256>;

 private:
  Table table_;
};

}  // namespace quenby
